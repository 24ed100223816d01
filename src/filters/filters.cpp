#include "filters/filters.h"

#include <algorithm>
#include <cstring>

namespace {

// The filters that need no line structure read the input in pieces of this
// size: big enough that the calls per piece cost little, small enough for the
// stack and the L1 cache.
constexpr std::size_t pieceSize = 16 * 1024;

// Reads the next piece of the input, up to size - 1 bytes, across line ends;
// returns 0 at the end. A byte 26 ends the input, so it never comes through:
// as the delimiter of `readLine` it lets the buffer fill, and a buffer that
// filled is no error here.
std::size_t readPiece(TextFile& input, char* piece, std::size_t size) {
    const std::size_t length = readLine(input, piece, size, 26);
    if (length == size - 1 && !input.endOfInput) input.failed = false;
    return length;
}

// Options 1 and 5: a run of SP and TAB after a field becomes one separator.
void replaceBlankRuns(TextFile& input, TextFile& output, char separator) {
    // Per byte value: what is stored for it, whether it is kept even when no
    // field came just before it (all but the blanks), and whether a blank
    // after it is kept (all but the blanks and the line end). Looked up, not
    // branched on, so no branch guesses wrong at each edge of a field.
    unsigned char stored[256];
    unsigned char keptAlways[256];
    unsigned char endsField[256];
    for (int c = 0; c < 256; ++c) {
        const bool blank = c == ' ' || c == '\t';
        stored[c] = static_cast<unsigned char>(blank ? separator : c);
        keptAlways[c] = !blank;
        endsField[c] = !blank && c != '\n';
    }
    unsigned char in[pieceSize];
    char out[pieceSize];
    // Only whether a field has just ended matters, so a flag, which no field
    // length can overflow, does the work of a character count.
    unsigned char afterField = 0;
    while (const std::size_t length = readPiece(input, reinterpret_cast<char*>(in), sizeof in)) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < length; ++i) {
            // Every byte is stored, and then kept or not.
            const unsigned char c = in[i];
            out[kept] = static_cast<char>(stored[c]);
            kept += keptAlways[c] | afterField;
            afterField = endsField[c];
        }
        writeBytes(output, out, kept);
    }
}

// Options 2 to 4: each `from` becomes `to`, everything else passes.
void replaceEach(TextFile& input, TextFile& output, char from, const char* to) {
    const std::size_t toLength = std::strlen(to);
    const char replacement = *to;
    char piece[pieceSize];
    while (const std::size_t length = readPiece(input, piece, sizeof piece)) {
        if (toLength == 1) {  // one byte for one: in place, every byte stored
            for (std::size_t i = 0; i < length; ++i) piece[i] = piece[i] == from ? replacement : piece[i];
            writeBytes(output, piece, length);
            continue;
        }
        const char* rest = piece;
        const char* end = piece + length;
        while (const char* found = static_cast<const char*>(std::memchr(rest, from, end - rest))) {
            writeBytes(output, rest, found - rest);
            writeBytes(output, to, toLength);
            rest = found + 1;
        }
        writeBytes(output, rest, end - rest);
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
