#include "app/dialogue.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "app/copy_progress.h"
#include "app/title_screen.h"
#include "filters/filters.h"
#include "platform/console.h"
#include "platform/interrupts.h"
#include "platform/text_file.h"

namespace {

constexpr std::size_t nameSize = 64;    // a file name: at most 63 characters
constexpr std::size_t answerSize = 3;   // a one-character answer: at most 2 are kept
constexpr std::size_t extensionSize = 4;  // ".csv", ".txt" or ".tsv", appended to a typed output name
// The option-6 name: up to 2 + 3 characters of prefix before a whole input name.
constexpr std::size_t outputNameSize = (answerSize - 1) + 3 + nameSize;
static_assert(outputNameSize >= nameSize + extensionSize, "room for a typed output name and its extension");

// Writes `indent` spaces, then the text. The indent is a constant of the
// caller's, checked here against the spaces there are.
template <std::size_t indent>
void say(const char* text) {
    static const char spaces[] = "                                ";
    static_assert(indent < sizeof spaces, "no more spaces than there are");
    writeText(spaces + (sizeof spaces - 1 - indent));
    writeText(text);
}

// Asks for a file name until one fits: at most nameSize - 1 bytes. A longer
// name is never cut, since a cut name would open or overwrite some other
// file. False once the answers have ended.
template <std::size_t size>
bool askName(const char* question, char (&name)[size]) {
    static_assert(size >= nameSize, "room for the longest name taken");
    for (;;) {
        say<24>(question);
        switch (readWord(name, nameSize)) {
        case WordResult::noWord:
            return false;
        case WordResult::gotWord:
            return true;
        case WordResult::wordTooLong: {
            char tooLong[64];
            std::snprintf(tooLong, sizeof tooLong, "Name too long: at most %zu characters.", nameSize - 1);
            say<24>(tooLong);
            endLine();
            break;
        }
        }
    }
}

// Asks a one-character question; the first two characters of the answer are
// kept. False once the answers have ended.
template <std::size_t indent>
bool askShort(const char* question, char (&answer)[answerSize]) {
    say<indent>(question);
    return readWord(answer, answerSize) != WordResult::noWord;
}

// Lower-cases the last part of a name only: its folders stay as typed, since
// where letter case tells names apart "Proj" and "proj" are two folders.
void lowerCaseLastPart(char* name) { lowerCaseName(name + folderPartLength(name)); }

// The answers ended before the dialogue did: stop here, having made nothing.
int endOfAnswers(TextFile& input) {
    endLine();
    closeFile(input);
    return 0;
}

}  // namespace

void lowerCaseName(char* name) {
    for (; *name != '\0'; ++name)
        if (*name >= 'A' && *name <= 'Z') *name = static_cast<char>(*name + ('a' - 'A'));
}

int runDialogue() {
    TextFile input;
    TextFile output;
    char inputName[nameSize];
    char outputName[outputNameSize];
    char optionAnswer[answerSize] = {};
    char tabsAnswer[answerSize];
    // All zeros: an empty answer put to its default is still a whole text.
    char lineSpacesAnswer[answerSize] = {};
    char overwriteAnswer[answerSize];
    char tabSeparator[4] = {};
    int lineSpaces = 0;
    const char* outputExtension = "";

    showTitleScreen();

    if (!askName("Enter input file name: ", inputName)) return endOfAnswers(input);
    openInputFile(input, inputName);
    if (input.failed) {
        endLine();
        say<22>("Can't find ");
        writeText(inputName);
        writeText(".  Press any Key.");
        waitForKey();
        clearScreen();
        return 0;
    }

    do {
        if (!askShort<24>("Enter Option < 1 - 6 >: ", optionAnswer)) return endOfAnswers(input);
    } while (optionAnswer[0] < '1' || optionAnswer[0] > '6');
    const char option = optionAnswer[0];

    switch (option) {
    case '1':
        outputExtension = ".csv";
        break;
    case '2':
    case '5':
        outputExtension = ".txt";
        break;
    case '3':
    case '4': {
        outputExtension = ".tsv";
        if (!askShort<24>("Enter # of tabs <1> to 3: ", tabsAnswer)) return endOfAnswers(input);
        if (tabsAnswer[0] < '1' || tabsAnswer[0] > '3') tabsAnswer[0] = '1';
        const int tabs = tabsAnswer[0] - '0';
        for (int i = 0; i < tabs; ++i) std::strcat(tabSeparator, "\t");
        break;
    }
    case '6':
        if (!askShort<24>("Enter # of line spaces, <0> to 4: ", lineSpacesAnswer))
            return endOfAnswers(input);
        if (lineSpacesAnswer[0] < '0' || lineSpacesAnswer[0] > '4') lineSpacesAnswer[0] = '0';
        lineSpaces = lineSpacesAnswer[0] - '0';
        break;
    }

    if (option == '6') {
        // Beside the input, in its folder: the prefix goes before its last part.
        // Rewritten without asking; but never the input itself under another name.
        const int folder = static_cast<int>(folderPartLength(inputName));
        std::snprintf(outputName, sizeof outputName, "%.*s%ssp_%s", folder, inputName, lineSpacesAnswer,
                      inputName + folder);
    } else {
        for (;;) {
            if (!askName("Enter output file name (no ext.): ", outputName)) return endOfAnswers(input);
            std::strcat(outputName, outputExtension);
            lowerCaseLastPart(inputName);
            lowerCaseLastPart(outputName);
            // Another name for the input file (a link, a path) is a clash too:
            // emptying the output would empty the input.
            if (std::strcmp(inputName, outputName) != 0 && !isSameFile(input, outputName)) break;
            endLine();
            say<24>("Can't use input file name. It was worth a try.");
            endLine();
        }
        if (fileExists(outputName)) {
            // A destructive question: only a line typed after it answers it,
            // never the rest of a name typed before.
            forgetTypedAnswers();
            if (!askShort<10>("File already exists. Do you want to overwrite? Y or <N>: ", overwriteAnswer))
                return endOfAnswers(input);
            if (overwriteAnswer[0] != 'Y' && overwriteAnswer[0] != 'y') {
                closeFile(input);
                clearScreen();
                writeText("Start program again. Use a different file name.");
                endLine();
                return 0;
            }
        }
    }

    // The input itself under another name is never opened for output: that
    // would empty it before a byte was read.
    const bool outputIsInput = isSameFile(input, outputName);
    if (!outputIsInput) openOutputFile(output, outputName);
    if (outputIsInput || output.failed) {
        say<24>("Can't open ");
        writeText(outputName);
        endLine();
        closeFile(input);
        return 0;
    }

    // From here a request to end the program stops the copy between pieces;
    // it ends the program once the output is closed and said to be cut short.
    holdInterrupts();
    say<24>("Copying ");
    writeText(inputName);
    writeText("  ->  ");
    writeText(outputName);
    writeText(". ");
    endLine();

    CopyProgress progress(input);  // on a terminal, a long copy shows how far it has got
    switch (option) {
    case '1':
        filterSpcTabToComma(input, output);
        break;
    case '2':
        filterCommaToSpace(input, output);
        break;
    case '3':
        filterCommaToTab(input, output, tabSeparator);
        break;
    case '4':
        filterSpaceToTab(input, output, tabSeparator);
        break;
    case '5':
        filterSpcTabToNewline(input, output);
        break;
    case '6':
        filterLineSpacing(input, output, lineSpaces);
        break;
    }
    progress.end();
    closeFile(input);
    closeFile(output);

    // A copy cut short must not pass for a finished one.
    if (output.ioError) {
        say<24>("Can't write ");
        writeText(outputName);
        writeText(". The copy is incomplete.");
        endLine();
    }
    if (input.ioError) {
        say<24>("Can't read ");
        writeText(inputName);
        writeText(". The copy is incomplete.");
        endLine();
    }
    if (input.cutShort || output.cutShort) {
        say<24>("Interrupted: ");
        writeText(outputName);
        writeText(" is incomplete.");
        endLine();
    }
    releaseInterrupts();

    endLine();
    say<29>("Press any key to exit.");
    waitForKey();
    clearScreen();
    return 0;
}
