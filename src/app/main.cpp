#include "app/dialogue.h"
#include "platform/process.h"

// Arguments are ignored: everything is asked for at the console.
int main() {
    prepareProcess();
    return runDialogue();
}
