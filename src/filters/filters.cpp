#include "filters/filters.h"

#include <algorithm>
#include <cstring>

namespace {

bool isBlank(int c) { return c == ' ' || c == '\t'; }

// Options 1 and 5: a run of SP and TAB after a field becomes one separator.
void replaceBlankRuns(TextFile& input, TextFile& output, char separator) {
    // Only whether the field has begun matters, so a flag, which no field
    // length can overflow, does the work of a character count.
    bool inField = false;
    int c;
    while ((c = readChar(input)) != -1) {
        if (isBlank(c)) {
            if (inField) writeBytes(output, &separator, 1);
            inField = false;
        } else {
            const char out = static_cast<char>(c);
            writeBytes(output, &out, 1);
            inField = c != '\n';
        }
    }
}

// Options 2 to 4: each `from` becomes `to`, everything else passes.
void replaceEach(TextFile& input, TextFile& output, char from, const char* to) {
    const std::size_t toLength = std::strlen(to);
    int c;
    while ((c = readChar(input)) != -1) {
        const char in = static_cast<char>(c);
        if (in == from)
            writeBytes(output, to, toLength);
        else
            writeBytes(output, &in, 1);
    }
}

}  // namespace

void filterSpcTabToComma(TextFile& input, TextFile& output) { replaceBlankRuns(input, output, ','); }

void filterSpcTabToNewline(TextFile& input, TextFile& output) { replaceBlankRuns(input, output, '\n'); }

void filterCommaToSpace(TextFile& input, TextFile& output) { replaceEach(input, output, ',', " "); }

void filterCommaToTab(TextFile& input, TextFile& output, const char* tabSeparator) {
    replaceEach(input, output, ',', tabSeparator);
}

void filterSpaceToTab(TextFile& input, TextFile& output, const char* tabSeparator) {
    replaceEach(input, output, ' ', tabSeparator);
}

void filterLineSpacing(TextFile& input, TextFile& output, int lineSpaces) {
    const char lineEnds[] = "\n\n\n\n\n";
    const std::size_t lineEndCount = 1 + static_cast<std::size_t>(std::clamp(lineSpaces, 0, 4));
    char line[lineBufferSize];
    bool inLine = false;  // part of a long line is written, its end is still to come
    for (;;) {
        const std::size_t length = readLine(input, line, sizeof line, '\n');
        const bool cut = input.failed && !input.endOfInput;
        writeBytes(output, line, length);
        if (cut) {
            // The line goes on past the buffer: clear the flag and read on, so
            // the line is written whole and ended once, at its real end.
            inLine = true;
            input.failed = false;
            continue;
        }
        if (length > 0 || inLine) writeBytes(output, lineEnds, lineEndCount);
        inLine = false;
        if (input.endOfInput) return;
    }
}
