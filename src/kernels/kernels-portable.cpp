#include <bit>
#include <cstdint>
#include <cstring>

#include "kernels/kernel_sets.h"

namespace {

constexpr unsigned char carriageReturn = 13;

// The CR handlers go eight bytes at a time: CRs and LFs come about once a
// line, so most words of text hold neither and are moved whole.
constexpr std::size_t wordSize = sizeof(std::uint64_t);
constexpr std::uint64_t everyByte = 0x0101010101010101;  // 1 in each byte

// A mask of the bytes of the word that are `byte`: the top bit of each such
// byte is set, and perhaps those of bytes after it; the first one set is
// always right. (A byte equal
// to `byte` becomes zero after the xor, and only a zero takes a borrow.)
std::uint64_t maskOfBytesEqual(std::uint64_t word, unsigned char byte) {
    const std::uint64_t x = word ^ (everyByte * byte);
    return (x - everyByte) & ~x & (everyByte << 7);
}

// The number of bytes before the first match, in memory order.
std::size_t bytesBefore(std::uint64_t matchBits) {
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::size_t>(std::countr_zero(matchBits)) / 8;
    else
        return static_cast<std::size_t>(std::countl_zero(matchBits)) / 8;
}

std::uint64_t loadWord(const unsigned char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, wordSize);
    return word;
}

bool runsEverywhere() { return true; }

unsigned char* dropCarriageReturns(unsigned char* begin, unsigned char* end, bool& markFound) {
    // The library's search for the mark, a pass of its own, costs less than
    // a second test in each word of the loop below.
    auto* mark = static_cast<unsigned char*>(std::memchr(begin, endOfInputMark, end - begin));
    markFound = mark != nullptr;
    if (markFound) end = mark;
    auto* cr = static_cast<unsigned char*>(std::memchr(begin, carriageReturn, end - begin));
    if (cr == nullptr) return end;
    // The write position stays behind the read position. A word without a CR
    // moves whole; one with a CR goes byte by byte, since after a jump to its
    // CR a whole-word store would reach bytes not yet read.
    unsigned char* to = cr;
    unsigned char* from = cr + 1;
    for (; end - from >= static_cast<std::ptrdiff_t>(wordSize); from += wordSize) {
        const std::uint64_t word = loadWord(from);
        if (maskOfBytesEqual(word, carriageReturn) == 0) {
            std::memcpy(to, &word, wordSize);
            to += wordSize;
            continue;
        }
        for (std::size_t i = 0; i < wordSize; ++i) {
            *to = from[i];
            to += from[i] != carriageReturn;
        }
    }
    for (; from < end; ++from) {
        *to = *from;
        to += *from != carriageReturn;
    }
    return to;
}

// Whole blocks are looked at by a loop without branches, which the compiler
// turns to vectors: a block is right if each of its bytes is a CR exactly
// where the byte after it is an LF, and none is the mark. The block where
// that fails, and the last bytes, go a byte at a time.
std::size_t crLfTextLength(const unsigned char* bytes, std::size_t count) {
    constexpr std::size_t blockSize = 256;
    if (count > 0 && bytes[0] == '\n') return 0;
    std::size_t at = 0;
    for (; count - at > blockSize; at += blockSize) {  // the byte after the block is there
        const unsigned char* block = bytes + at;
        unsigned char wrong = 0;  // not a bool, which the compiler would not vectorize
        for (std::size_t i = 0; i < blockSize; ++i) {
            const unsigned char byte = block[i];
            const unsigned char next = block[i + 1];
            wrong |= static_cast<unsigned char>(((byte == carriageReturn) ^ (next == '\n')) | (byte == endOfInputMark));
        }
        if (wrong != 0) break;
    }
    if (at > 0 && bytes[at - 1] == carriageReturn) ++at;  // its LF, whose CR the last block held
    for (; at < count; ++at) {
        if (bytes[at] == carriageReturn) {
            if (count - at < 2 || bytes[at + 1] != '\n') break;
            ++at;  // and its LF
        } else if (bytes[at] == '\n' || bytes[at] == endOfInputMark) {
            break;
        }
    }
    return at;
}

unsigned char* addCarriageReturns(const unsigned char* from, std::size_t count, unsigned char* to) {
    const unsigned char* const end = from + count;
    while (end - from >= static_cast<std::ptrdiff_t>(wordSize)) {
        const std::uint64_t word = loadWord(from);
        std::memcpy(to, &word, wordSize);
        const std::uint64_t found = maskOfBytesEqual(word, '\n');
        if (found == 0) {
            to += wordSize;
            from += wordSize;
            continue;
        }
        const std::size_t before = bytesBefore(found);
        to += before;
        *to++ = carriageReturn;
        *to++ = '\n';
        from += before + 1;
    }
    for (; from < end; ++from) {
        // A CR is stored at every step and then overwritten, unless an LF follows it.
        const bool lineEnd = *from == '\n';
        to[0] = carriageReturn;
        to[lineEnd] = *from;
        to += 1 + lineEnd;
    }
    return to;
}

// Options 1 and 5. Per byte value: the bytes stored for it (two where a
// blank or an LF becomes CR LF, and then none of a CR; one otherwise, and
// option 1's separator for a blank, put in at each call), whether it is kept
// even when no field came just before it (all but the blanks), and whether a
// blank after it is kept (all but the blanks and the line end's CR and LF).
// Worked out once, and looked up, not branched on, so no branch guesses
// wrong at each edge of a field.
template <bool lineEndsAsCrLf>
struct Squeezing {
    constexpr Squeezing() {
        for (int c = 0; c < 256; ++c) {
            const bool blank = c == ' ' || c == '\t';
            const bool lineEnd = lineEndsAsCrLf && (blank || c == '\n');
            stored[c][0] = lineEnd ? carriageReturn : static_cast<unsigned char>(c);
            stored[c][1] = '\n';
            storedCount[c] = lineEnd ? 2 : lineEndsAsCrLf && c == carriageReturn ? 0 : 1;
            keptAlways[c] = !blank;
            endsField[c] = !blank && c != '\n' && c != carriageReturn;
        }
    }

    unsigned char stored[256][2] = {};
    unsigned char storedCount[256] = {};
    unsigned char keptAlways[256] = {};
    unsigned char endsField[256] = {};
};
template <bool lineEndsAsCrLf>
constexpr Squeezing<lineEndsAsCrLf> squeezing;

template <bool lineEndsAsCrLf>
std::size_t squeeze(const unsigned char* in, std::size_t length, char* out, char separator, bool& afterField) {
    const Squeezing<lineEndsAsCrLf>& t = squeezing<lineEndsAsCrLf>;
    unsigned char stored[256];  // option 1's byte for each: the separator for a blank
    if constexpr (!lineEndsAsCrLf) {
        for (int c = 0; c < 256; ++c) stored[c] = t.stored[c][0];
        stored[static_cast<unsigned char>(' ')] = stored[static_cast<unsigned char>('\t')] =
            static_cast<unsigned char>(separator);
    }
    // Only whether a field has just ended matters, so a flag, which no field
    // length can overflow, does the work of a character count.
    unsigned char fieldEnded = afterField;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length; ++i) {
        // Every byte is stored, and then kept or not.
        const unsigned char c = in[i];
        if constexpr (lineEndsAsCrLf) {
            std::memcpy(out + kept, t.stored[c], 2);
            kept += (t.keptAlways[c] | fieldEnded) != 0 ? t.storedCount[c] : 0;
        } else {
            out[kept] = static_cast<char>(stored[c]);
            kept += t.keptAlways[c] | fieldEnded;
        }
        fieldEnded = t.endsField[c];
    }
    afterField = fieldEnded != 0;
    return kept;
}

std::size_t squeezeBlankRuns(const unsigned char* in, std::size_t length, char* out, char separator,
                             bool& afterField) {
    return squeeze<false>(in, length, out, separator, afterField);
}

std::size_t blankRunsToLineEnds(const unsigned char* in, std::size_t length, char* out, bool& afterField) {
    return squeeze<true>(in, length, out, '\n', afterField);
}

void replaceInPlace(char* bytes, std::size_t length, char from, char to) {
    for (std::size_t i = 0; i < length; ++i) bytes[i] = bytes[i] == from ? to : bytes[i];
}

std::size_t replaceEach(const char* in, std::size_t length, char* out, char from, const char* to,
                        std::size_t toLength) {
    if (toLength == 1) {  // a loop the compiler can turn to vectors of its own
        const char by = *to;
        for (std::size_t i = 0; i < length; ++i) out[i] = in[i] == from ? by : in[i];
        return length;
    }
    // Per byte value: the bytes it becomes, stored four at a time, and how
    // many of them count. Looked up, not branched on, so no branch guesses
    // wrong at each `from`.
    std::uint32_t becomes[256];
    unsigned char becomesLength[256];
    for (int c = 0; c < 256; ++c) {
        const bool replaced = c == static_cast<unsigned char>(from);
        char bytes[sizeof becomes[0]] = {static_cast<char>(c)};
        if (replaced) std::memcpy(bytes, to, toLength);
        std::memcpy(&becomes[c], bytes, sizeof bytes);
        becomesLength[c] = static_cast<unsigned char>(replaced ? toLength : 1);
    }
    std::size_t written = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        std::memcpy(out + written, &becomes[c], sizeof becomes[c]);
        written += becomesLength[c];
    }
    return written;
}

// A line ends with its LF, or with the CR LF `lineEndLength` bytes long.
std::size_t spaceLinesEndedBy(std::size_t lineEndLength, const char* in, std::size_t length, char* out,
                              std::size_t lineEndCount, bool& inLine) {
    const char lineEnds[] = "\r\n\r\n\r\n\r\n\r\n";
    const char* rest = in;
    const char* const end = in + length;
    std::size_t written = 0;
    while (const char* lineFeed = static_cast<const char*>(std::memchr(rest, '\n', end - rest))) {
        const char* const lineEnd = lineFeed + 1 - lineEndLength;
        if (lineEnd != rest || inLine) {  // an empty line is dropped
            std::memcpy(out + written, rest, lineEnd - rest);
            written += lineEnd - rest;
            std::memcpy(out + written, lineEnds, 2 * lineEndCount);
            written += 2 * lineEndCount;
        }
        inLine = false;
        rest = lineFeed + 1;
    }
    std::memcpy(out + written, rest, end - rest);
    written += end - rest;
    inLine = inLine || rest != end;
    return written;
}

std::size_t spaceLines(const char* in, std::size_t length, char* out, std::size_t lineEndCount, bool& inLine) {
    return spaceLinesEndedBy(1, in, length, out, lineEndCount, inLine);
}

std::size_t spaceCrLfLines(const char* in, std::size_t length, char* out, std::size_t lineEndCount, bool& inLine) {
    return spaceLinesEndedBy(2, in, length, out, lineEndCount, inLine);
}

}  // namespace

const Kernels portableKernels = {
    .name = "portable",
    .runsHere = runsEverywhere,
    .dropCarriageReturns = dropCarriageReturns,
    .crLfTextLength = crLfTextLength,
    .addCarriageReturns = addCarriageReturns,
    .squeezeBlankRuns = squeezeBlankRuns,
    .blankRunsToLineEnds = blankRunsToLineEnds,
    .replaceInPlace = replaceInPlace,
    .replaceEach = replaceEach,
    .spaceLines = spaceLines,
    .spaceCrLfLines = spaceCrLfLines,
};
