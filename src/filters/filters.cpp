#include "filters/filters.h"

#include <algorithm>
#include <cstring>

#include "kernels/kernels.h"

namespace {

// The filters convert the input's bytes where the input file holds them, a
// piece of at most this size at a time: big enough that the calls per piece
// cost little, small enough for the output buffers on the stack and for the
// L1 cache. A byte 26 ends the input, so it never comes through.
constexpr std::size_t pieceSize = 16 * 1024;

// True if a conversion leaves every CR and LF as it is and puts none in:
// then input whose line ends are CR LF already (see `takeBytes`) is
// converted straight into the output's buffer, with no CR dropped on reading
// nor added on writing.
bool keepsLineEnds(char from, const char* to) {
    return from != '\r' && from != '\n' && std::strpbrk(to, "\r\n") == nullptr;
}

// Options 2 to 4: each `from` becomes `to`, everything else passes. The
// program passes a space or one to three TABs; the buffer is sized for a `to`
// of at most three bytes, and a longer one is cut to that.
void replaceEach(TextFile& input, TextFile& output, char from, const char* to) {
    const Kernels& k = kernels();
    constexpr std::size_t longestTo = 3;
    const std::size_t toLength = std::min(std::strlen(to), longestTo);
    const bool crLfKept = keepsLineEnds(from, to);
    char* piece;
    char out[longestTo * pieceSize + maxStoreOverrun];
    constexpr std::size_t mostOut = longestTo * pieceSize + maxStoreOverrun;
    static_assert(sizeof out >= mostOut && mostRoomToWrite >= mostOut,
                  "room for every byte of a piece to become `to`, and for a kernel's last store");
    LineEnds lineEnds = LineEnds::lf;
    while (const std::size_t length =
               crLfKept ? takeBytes(input, piece, pieceSize, lineEnds) : takeBytes(input, piece, pieceSize)) {
        if (lineEnds == LineEnds::crLf) {
            char* room = roomToWrite(output, toLength * length + maxStoreOverrun);
            wroteToRoom(output, k.replaceEach(piece, length, room, from, to, toLength));
        } else if (toLength == 1) {
            k.replaceInPlace(piece, length, from, *to);
            writeBytes(output, piece, length);
        } else {
            writeBytes(output, out, k.replaceEach(piece, length, out, from, to, toLength));
        }
    }
}

}  // namespace

// Options 1 and 5: each run of SP and TAB after a field becomes one comma,
// or one line end.

void filterSpcTabToComma(TextFile& input, TextFile& output) {
    const Kernels& k = kernels();
    char* in;
    char out[pieceSize + maxStoreOverrun];
    constexpr std::size_t mostOut = pieceSize + maxStoreOverrun;
    static_assert(sizeof out >= mostOut && mostRoomToWrite >= mostOut,
                  "room for every byte kept and a kernel's last store");
    bool afterField = false;  // the byte before ended a field
    LineEnds lineEnds;
    while (const std::size_t length = takeBytes(input, in, pieceSize, lineEnds)) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(in);
        if (lineEnds == LineEnds::crLf) {  // the commas leave the CR LFs as they are
            char* room = roomToWrite(output, length + maxStoreOverrun);
            wroteToRoom(output, k.squeezeBlankRuns(bytes, length, room, ',', afterField));
        } else {
            writeBytes(output, out, k.squeezeBlankRuns(bytes, length, out, ',', afterField));
        }
    }
}

void filterSpcTabToNewline(TextFile& input, TextFile& output) {
    // The kernel takes the line ends in either form and writes each as CR LF
    // itself, straight into the output's buffer.
    const Kernels& k = kernels();
    char* in;
    constexpr std::size_t mostOut = maxWithCarriageReturns(pieceSize) + maxStoreOverrun;
    static_assert(mostRoomToWrite >= mostOut, "room for every byte kept as a CR LF and a kernel's last store");
    bool afterField = false;  // the byte before ended a field
    LineEnds eitherForm;
    while (const std::size_t length = takeBytes(input, in, pieceSize, eitherForm)) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(in);
        char* room = roomToWrite(output, maxWithCarriageReturns(length) + maxStoreOverrun);
        wroteToRoom(output, k.blankRunsToLineEnds(bytes, length, room, afterField));
    }
}

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
    // The kernels write the line ends as CR LF themselves, straight into the
    // output's buffer, from text in either form; a piece may grow five and a
    // half times there, so the pieces are smaller than the other filters'.
    constexpr std::size_t linesPieceSize = pieceSize / 2;
    constexpr std::size_t mostOut = maxSpacedLines(linesPieceSize) + maxStoreOverrun;
    static_assert(mostRoomToWrite >= mostOut, "room for a piece spaced out and for a kernel's last store");
    const Kernels& k = kernels();
    char* piece;
    bool inLine = false;  // a line has begun and its end is still to come
    LineEnds form;
    while (const std::size_t length = takeBytes(input, piece, linesPieceSize, form)) {
        char* room = roomToWrite(output, maxSpacedLines(length) + maxStoreOverrun);
        const auto space = form == LineEnds::crLf ? k.spaceCrLfLines : k.spaceLines;
        wroteToRoom(output, space(piece, length, room, lineEndCount, inLine));
    }
    if (inLine) writeBytes(output, lineEnds, lineEndCount);
}
