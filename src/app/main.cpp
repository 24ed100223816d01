#include "app/dialogue.h"

// Arguments are ignored: everything is asked for at the console.
int main() { return runDialogue(); }
