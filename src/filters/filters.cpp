#include "filters/filters.h"

#include <algorithm>
#include <cstring>

#include "kernels/kernels.h"

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
    const Kernels& k = kernels();
    unsigned char in[pieceSize];
    char out[pieceSize + maxStoreOverrun];
    static_assert(sizeof out >= sizeof in + maxStoreOverrun, "room for every byte kept and a kernel's last store");
    bool afterField = false;  // the byte before ended a field
    while (const std::size_t length = readPiece(input, reinterpret_cast<char*>(in), sizeof in))
        writeBytes(output, out, k.squeezeBlankRuns(in, length, out, separator, afterField));
}

// Options 2 to 4: each `from` becomes `to`, everything else passes. The
// program passes a space or one to three TABs; the buffer is sized for a `to`
// of at most three bytes, and a longer one is cut to that.
void replaceEach(TextFile& input, TextFile& output, char from, const char* to) {
    const Kernels& k = kernels();
    constexpr std::size_t longestTo = 3;
    const std::size_t toLength = std::min(std::strlen(to), longestTo);
    char piece[pieceSize];
    char out[longestTo * pieceSize + maxStoreOverrun];
    static_assert(sizeof out >= longestTo * sizeof piece + maxStoreOverrun,
                  "room for every byte of a piece to become `to`, and for a kernel's last store");
    while (const std::size_t length = readPiece(input, piece, sizeof piece)) {
        if (toLength == 1) {
            k.replaceInPlace(piece, length, from, *to);
            writeBytes(output, piece, length);
        } else {
            writeBytes(output, out, k.replaceEach(piece, length, out, from, to, toLength));
        }
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
    // Read in pieces, not lines, so that a line of any length is written
    // whole and ended once, and the lines of a piece go out in one write.
    const Kernels& k = kernels();
    char piece[pieceSize];
    char out[maxSpacedLines(pieceSize - 1) + maxStoreOverrun];
    static_assert(sizeof out >= maxSpacedLines(sizeof piece - 1) + maxStoreOverrun,
                  "room for a piece spaced out and for a kernel's last store");
    bool inLine = false;  // a line has begun and its end is still to come
    while (const std::size_t length = readPiece(input, piece, sizeof piece))
        writeBytes(output, out, k.spaceLines(piece, length, out, lineEndCount, inLine));
    if (inLine) writeBytes(output, lineEnds, lineEndCount);
}
