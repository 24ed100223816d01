#include "filters/filters.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/wide_vectors.h"

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

#ifdef ZORVEN_WIDE_VECTORS
// The loop of `replaceBlankRuns` 64 bytes at a time: which bytes are kept
// follows from three masks of the vector, and the compress instruction packs
// them. `afterField` carries from one call to the next, as there.
WIDE_VECTOR_CODE std::size_t squeezeBlankRunsWide(const unsigned char* in, std::size_t length, char* out,
                                                  char separator, unsigned char& afterField) {
    const __m512i space = _mm512_set1_epi8(' ');
    const __m512i tab = _mm512_set1_epi8('\t');
    const __m512i lineEnd = _mm512_set1_epi8('\n');
    const __m512i separators = _mm512_set1_epi8(separator);
    std::uint64_t fieldBefore = afterField;  // bit 0: the byte before the vector ends a field
    std::size_t kept = 0;
    for (std::size_t at = 0; at < length; at += 64) {
        const std::size_t count = std::min<std::size_t>(length - at, 64);
        const std::uint64_t present = lowBits(count);
        const __m512i bytes = _mm512_maskz_loadu_epi8(present, in + at);
        const std::uint64_t blanks = _mm512_cmpeq_epi8_mask(bytes, space) | _mm512_cmpeq_epi8_mask(bytes, tab);
        const std::uint64_t endsField = present & ~blanks & ~_mm512_cmpeq_epi8_mask(bytes, lineEnd);
        const std::uint64_t keep = present & (~blanks | endsField << 1 | fieldBefore);
        const __m512i stored = _mm512_mask_blend_epi8(blanks, bytes, separators);
        const auto keptHere = static_cast<std::size_t>(std::popcount(keep));
        _mm512_mask_storeu_epi8(out + kept, lowBits(keptHere), _mm512_maskz_compress_epi8(keep, stored));
        kept += keptHere;
        fieldBefore = endsField >> (count - 1) & 1;
    }
    afterField = static_cast<unsigned char>(fieldBefore);
    return kept;
}
#endif

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
#ifdef ZORVEN_WIDE_VECTORS
        if (wideVectorsUsable()) {
            writeBytes(output, out, squeezeBlankRunsWide(in, length, out, separator, afterField));
            continue;
        }
#endif
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

#ifdef ZORVEN_WIDE_VECTORS
// The loop of `replaceEach` when `to` is `toLength` copies of one byte: in
// each vector every `from` becomes that byte and gets the other copies put in
// front of it. `out` needs room for `toLength` times the length and a vector.
WIDE_VECTOR_CODE std::size_t replaceEachWide(const char* in, std::size_t length, char* out, char from, char to,
                                             std::size_t toLength) {
    const Spreading spreading(toLength);
    const __m512i froms = _mm512_set1_epi8(from);
    const __m512i tos = _mm512_set1_epi8(to);
    std::size_t written = 0;
    for (std::size_t at = 0; at < length; at += spreading.bytesPerVector) {
        const std::size_t count = std::min(length - at, spreading.bytesPerVector);
        const std::uint64_t present = lowBits(count);
        const __m512i bytes = _mm512_maskz_loadu_epi8(present, in + at);
        const std::uint64_t found = _mm512_mask_cmpeq_epi8_mask(present, bytes, froms);
        const __m512i replaced = _mm512_mask_blend_epi8(found, bytes, tos);
        _mm512_storeu_si512(out + written, _mm512_mask_expand_epi8(tos, spreading.placesOfBytes(found), replaced));
        written += spreading.spreadCount(count, std::popcount(found));
    }
    return written;
}

// One byte for one in place, 64 bytes at a time: `to` is stored where the
// vector holds `from`, and nothing else is touched.
WIDE_VECTOR_CODE void replaceInPlaceWide(char* bytes, std::size_t length, char from, char to) {
    const __m512i froms = _mm512_set1_epi8(from);
    const __m512i tos = _mm512_set1_epi8(to);
    for (std::size_t at = 0; at < length; at += 64) {
        const std::uint64_t present = lowBits(std::min<std::size_t>(length - at, 64));
        const __m512i vector = _mm512_maskz_loadu_epi8(present, bytes + at);
        _mm512_mask_storeu_epi8(bytes + at, _mm512_mask_cmpeq_epi8_mask(present, vector, froms), tos);
    }
}
#endif

// One byte for one, in place.
void replaceInPlace(char* bytes, std::size_t length, char from, char to) {
#ifdef ZORVEN_WIDE_VECTORS
    if (wideVectorsUsable()) return replaceInPlaceWide(bytes, length, from, to);
#endif
    for (std::size_t i = 0; i < length; ++i) bytes[i] = bytes[i] == from ? to : bytes[i];
}

// Options 2 to 4: each `from` becomes `to`, everything else passes. The
// program passes a space or one to three TABs; the buffer is sized for a `to`
// of at most three bytes, and a longer one is cut to that.
void replaceEach(TextFile& input, TextFile& output, char from, const char* to) {
    constexpr std::size_t longestTo = 3;
    const std::size_t toLength = std::min(std::strlen(to), longestTo);
    char piece[pieceSize];
    // Room for every byte of a piece to become `to`, and for a whole vector
    // stored past the end.
    char out[longestTo * pieceSize + 64];
    // Per byte value, for the portable path: the bytes it becomes, stored
    // four at a time, and how many of them count. Looked up, not branched
    // on, so no branch guesses wrong at each `from`.
    std::uint32_t becomes[256];
    unsigned char becomesLength[256];
    for (int c = 0; c < 256; ++c) {
        const bool replaced = c == static_cast<unsigned char>(from);
        char bytes[sizeof becomes[0]] = {static_cast<char>(c)};
        if (replaced) std::memcpy(bytes, to, toLength);
        std::memcpy(&becomes[c], bytes, sizeof bytes);
        becomesLength[c] = static_cast<unsigned char>(replaced ? toLength : 1);
    }
#ifdef ZORVEN_WIDE_VECTORS
    const char first[] = {*to, '\0'};
    const bool spreadWide = toLength >= 2 && std::strspn(to, first) == toLength && wideVectorsUsable();
#endif
    while (const std::size_t length = readPiece(input, piece, sizeof piece)) {
        if (toLength == 1) {
            replaceInPlace(piece, length, from, *to);
            writeBytes(output, piece, length);
            continue;
        }
#ifdef ZORVEN_WIDE_VECTORS
        if (spreadWide) {
            writeBytes(output, out, replaceEachWide(piece, length, out, from, *to, toLength));
            continue;
        }
#endif
        std::size_t written = 0;
        for (std::size_t i = 0; i < length; ++i) {
            const auto c = static_cast<unsigned char>(piece[i]);
            std::memcpy(out + written, &becomes[c], sizeof becomes[c]);
            written += becomesLength[c];
        }
        writeBytes(output, out, written);
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

#ifdef ZORVEN_WIDE_VECTORS
// The loop of `filterLineSpacing` over a piece, a vector at a time and
// without a branch per line: the LFs that end empty lines are packed out
// (compress), and each LF left gets the LFs of its blank lines put in front
// of it. `inLine` carries from piece to piece, as there.
WIDE_VECTOR_CODE std::size_t spaceLinesWide(const char* in, std::size_t length, char* out, std::size_t lineEndCount,
                                            bool& inLine) {
    const Spreading spreading(lineEndCount);
    const __m512i lineEnd = _mm512_set1_epi8('\n');
    std::uint64_t lineStart = !inLine;  // bit 0: the vector starts a line
    std::size_t written = 0;
    for (std::size_t at = 0; at < length; at += spreading.bytesPerVector) {
        const std::size_t count = std::min(length - at, spreading.bytesPerVector);
        const std::uint64_t present = lowBits(count);
        const __m512i bytes = _mm512_maskz_loadu_epi8(present, in + at);
        const std::uint64_t lineEnds = _mm512_mask_cmpeq_epi8_mask(present, bytes, lineEnd);
        const std::uint64_t kept = present & ~(lineEnds & (lineEnds << 1 | lineStart));
        const std::uint64_t keptLineEnds = _pext_u64(lineEnds, kept);  // where they are once packed
        const __m512i packed = _mm512_maskz_compress_epi8(kept, bytes);
        _mm512_storeu_si512(out + written,
                            _mm512_mask_expand_epi8(lineEnd, spreading.placesOfBytes(keptLineEnds), packed));
        written += spreading.spreadCount(std::popcount(kept), std::popcount(keptLineEnds));
        lineStart = lineEnds >> (count - 1) & 1;
    }
    inLine = lineStart == 0;
    return written;
}
#endif

void filterLineSpacing(TextFile& input, TextFile& output, int lineSpaces) {
    const char lineEnds[] = "\n\n\n\n\n";
    const std::size_t lineEndCount = 1 + static_cast<std::size_t>(std::clamp(lineSpaces, 0, 4));
    // Read in pieces, not lines, so that a line of any length is written
    // whole and ended once, and the lines of a piece go out in one write.
    char piece[pieceSize];
    // A piece of n bytes becomes at most 3n + 2 bytes: one-byte lines whose
    // LFs become five each, the first LF perhaps ending a line begun in the
    // piece before. The wide path may store a whole vector past the end.
    char out[3 * pieceSize + 64];
    bool inLine = false;  // a line has begun and its end is still to come
    while (const std::size_t length = readPiece(input, piece, sizeof piece)) {
#ifdef ZORVEN_WIDE_VECTORS
        if (wideVectorsUsable()) {
            writeBytes(output, out, spaceLinesWide(piece, length, out, lineEndCount, inLine));
            continue;
        }
#endif
        const char* rest = piece;
        const char* const end = piece + length;
        std::size_t written = 0;
        while (const char* lineEnd = static_cast<const char*>(std::memchr(rest, '\n', end - rest))) {
            if (lineEnd != rest || inLine) {  // an empty line is dropped
                std::memcpy(out + written, rest, lineEnd - rest);
                written += lineEnd - rest;
                std::memcpy(out + written, lineEnds, lineEndCount);
                written += lineEndCount;
            }
            inLine = false;
            rest = lineEnd + 1;
        }
        std::memcpy(out + written, rest, end - rest);
        written += end - rest;
        inLine = inLine || rest != end;
        writeBytes(output, out, written);
    }
    if (inLine) writeBytes(output, lineEnds, lineEndCount);
}
