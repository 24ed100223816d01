// The kernels on 16-byte NEON vectors, which every 64-bit ARM processor has.
// NEON has no instruction that packs or spreads the bytes of a vector by a
// mask, so both go eight bytes at a time through a table lookup whose pattern
// is looked up by the eight bits of the mask (shuffle_patterns.h); an index
// past the table gives a zero byte, as `shuffles::zeroed` needs. The last
// bytes of each call, fewer than a vector, go the portable way.

#include <arm_neon.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "kernels/kernel_sets.h"
#include "kernels/shuffle_patterns.h"

namespace {

constexpr unsigned char carriageReturn = 13;
constexpr std::size_t vectorSize = 16;

uint8x16_t loadVector(const void* from) { return vld1q_u8(static_cast<const std::uint8_t*>(from)); }

// One bit per byte of the vector: set where the byte of `marks` is all ones.
// (NEON has no move-mask: each byte keeps its own bit, and the bits of each
// half are added up.)
std::uint32_t bitsOf(uint8x16_t marks) {
    const uint8x16_t bits = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t kept = vandq_u8(marks, bits);
    return vaddv_u8(vget_low_u8(kept)) | static_cast<std::uint32_t>(vaddv_u8(vget_high_u8(kept))) << 8;
}

std::uint32_t matches(uint8x16_t vector, uint8x16_t byte) { return bitsOf(vceqq_u8(vector, byte)); }

// The two eight-byte groups of a vector, each at the front of its own.
struct Groups {
    uint8x16_t group[2];
};
Groups groupsOf(uint8x16_t vector) { return {{vector, vextq_u8(vector, vector, 8)}}; }

// The bytes of the group marked in `kept`, packed to the front; zeros after them.
uint8x8_t packed(uint8x16_t group, unsigned kept) {
    return vqtbl1_u8(group, vcreate_u8(shuffles::packing[kept]));
}

// Stores the bytes of the vector marked in `kept`, packed, and returns their
// number; eight bytes are stored per group in any case.
std::size_t packVector(uint8x16_t vector, std::uint32_t kept, unsigned char* to) {
    const Groups groups = groupsOf(vector);
    std::size_t count = 0;
    for (unsigned g = 0; g < 2; ++g) {
        const unsigned keptHere = kept >> 8 * g & 0xff;
        vst1_u8(to + count, packed(groups.group[g], keptHere));
        count += static_cast<std::size_t>(std::popcount(keptHere));
    }
    return count;
}

// Stores the first `count` bytes of the group (its low half) spread, with
// the byte of its high half in the places in front of each marked byte, and
// returns how many bytes that makes; whole 16-byte shuffles are stored, as
// many as `mostMarked` marked bytes need.
template <std::size_t places, std::size_t kinds = 1, std::size_t mostMarked = 8>
std::size_t spreadGroup(uint8x16_t group, std::size_t count, unsigned marked, unsigned char* to) {
    const auto& pattern = shuffles::spreading<places, kinds>.patterns[marked];
    for (std::size_t s = 0; s < shuffles::Spreading<places, kinds>::shufflesFor(mostMarked); ++s)
        vst1q_u8(to + 16 * s, vqtbl1q_u8(group, vld1q_u8(pattern.data() + 16 * s)));
    return count + (places - 1) * static_cast<std::size_t>(std::popcount(marked));
}

// The bytes of the vector spread, the bytes of `added` in front of each
// marked byte (at most `mostMarked` of each eight).
template <std::size_t places, std::size_t kinds = 1, std::size_t mostMarked = 8>
std::size_t spreadVector(uint8x16_t vector, std::uint32_t marked, uint8x8_t added, unsigned char* to) {
    // Each group of eight with eight added bytes after it.
    const uint8x16_t groups[] = {vcombine_u8(vget_low_u8(vector), added), vcombine_u8(vget_high_u8(vector), added)};
    std::size_t count = 0;
    for (unsigned g = 0; g < 2; ++g)
        count += spreadGroup<places, kinds, mostMarked>(groups[g], 8, marked >> 8 * g & 0xff, to + count);
    return count;
}

// Stores the bytes of the group marked in `kept`, packed, with the bytes of
// `added` in front of each `marker` byte among them (an LF, or the CR of a
// CR LF; at most `mostMarked` of them), and returns how many bytes that
// makes.
template <std::size_t places, std::size_t kinds = 1, std::size_t mostMarked = 8>
std::size_t packAndSpreadLineEnds(uint8x16_t group, unsigned kept, unsigned char marker, uint8x8_t added,
                                  unsigned char* to) {
    // Past the packed bytes lie zeros, no line end among them.
    const uint8x16_t spreadable = vcombine_u8(packed(group, kept), added);
    const unsigned lineEnds = matches(spreadable, vdupq_n_u8(marker)) & 0xff;
    return spreadGroup<places, kinds, mostMarked>(spreadable, static_cast<std::size_t>(std::popcount(kept)), lineEnds,
                                                  to);
}

bool runsEverywhere() { return true; }

// The write position never passes the read position, and each vector is
// loaded before any of its bytes are overwritten. The vector with the end
// mark, and the bytes after the last whole vector, go a byte at a time.
unsigned char* dropCarriageReturns(unsigned char* from, unsigned char* end, bool& markFound) {
    const uint8x16_t cr = vdupq_n_u8(carriageReturn);
    const uint8x16_t mark = vdupq_n_u8(endOfInputMark);
    unsigned char* to = from;
    for (; end - from >= static_cast<std::ptrdiff_t>(vectorSize); from += vectorSize) {
        const uint8x16_t bytes = loadVector(from);
        if (vmaxvq_u8(vceqq_u8(bytes, mark)) != 0) break;
        to += packVector(bytes, ~matches(bytes, cr), to);
    }
    for (; from < end && *from != endOfInputMark; ++from) {
        *to = *from;
        to += *from != carriageReturn;
    }
    markFound = from < end;
    return to;
}

// A CR is right where an LF follows it, and an LF where a CR comes before
// it: the first byte where the LFs differ from the CRs moved one place on
// (or the mark) ends the count. A vector without any of the three passes at
// once. The bytes after the last whole vector go the portable way, with the
// CR that may end that vector.
std::size_t crLfTextLength(const unsigned char* bytes, std::size_t count) {
    const uint8x16_t cr = vdupq_n_u8(carriageReturn);
    const uint8x16_t lf = vdupq_n_u8('\n');
    const uint8x16_t mark = vdupq_n_u8(endOfInputMark);
    std::uint32_t crBefore = 0;  // bit 0: the byte before the vector is a CR
    std::size_t at = 0;
    for (; count - at >= vectorSize; at += vectorSize) {
        const uint8x16_t vector = loadVector(bytes + at);
        const uint8x16_t crBytes = vceqq_u8(vector, cr);
        const uint8x16_t lfBytes = vceqq_u8(vector, lf);
        const uint8x16_t markBytes = vceqq_u8(vector, mark);
        if (crBefore == 0 && vmaxvq_u8(vorrq_u8(vorrq_u8(crBytes, lfBytes), markBytes)) == 0) continue;
        const std::uint32_t crs = bitsOf(crBytes);
        const std::uint32_t lfWanted = crs << 1 | crBefore;
        const std::uint32_t wrong = ((lfWanted ^ bitsOf(lfBytes)) & 0xffff) | bitsOf(markBytes);
        if (wrong != 0) {
            const auto first = static_cast<std::size_t>(std::countr_zero(wrong));
            return at + first - (lfWanted >> first & 1);  // an LF was wanted: its CR goes too
        }
        crBefore = crs >> 15;
    }
    at -= crBefore;
    return at + portableKernels.crLfTextLength(bytes + at, count - at);
}

// Each group of eight becomes at most sixteen bytes and stores sixteen, so
// nothing is stored past the room of twice the count.
unsigned char* addCarriageReturns(const unsigned char* from, std::size_t count, unsigned char* to) {
    const uint8x16_t lf = vdupq_n_u8('\n');
    const uint8x8_t cr = vdup_n_u8(carriageReturn);
    const unsigned char* const end = from + count;
    for (; end - from >= static_cast<std::ptrdiff_t>(vectorSize); from += vectorSize) {
        const uint8x16_t bytes = loadVector(from);
        to += spreadVector<2>(bytes, matches(bytes, lf), cr, to);
    }
    return portableKernels.addCarriageReturns(from, end - from, to);
}

// Options 1 and 5 on one vector: the bytes with each blank made `separator`,
// and which of them are kept: all but the blanks that follow no field (and,
// with `dropCrs`, the CRs). `fieldBefore` (bit 0) says whether the byte
// before the vector ends a field, and becomes whether its last byte does.
struct Squeezed {
    uint8x16_t bytes;
    std::uint32_t kept;
};
Squeezed squeezeVector(uint8x16_t bytes, char separator, bool dropCrs, std::uint32_t& fieldBefore) {
    const uint8x16_t blankBytes = vorrq_u8(vceqq_u8(bytes, vdupq_n_u8(' ')), vceqq_u8(bytes, vdupq_n_u8('\t')));
    const std::uint32_t blanks = bitsOf(blankBytes);
    const std::uint32_t crs = matches(bytes, vdupq_n_u8(carriageReturn));
    const std::uint32_t endsField = ~blanks & ~matches(bytes, vdupq_n_u8('\n')) & ~crs & 0xffff;
    const std::uint32_t kept = (~blanks | endsField << 1 | fieldBefore) & ~(dropCrs ? crs : 0);
    fieldBefore = endsField >> 15;
    return {vbslq_u8(blankBytes, vdupq_n_u8(static_cast<std::uint8_t>(separator)), bytes), kept};
}

std::size_t squeezeBlankRuns(const unsigned char* in, std::size_t length, char* out, char separator,
                             bool& afterField) {
    auto* const to = reinterpret_cast<unsigned char*>(out);
    std::uint32_t fieldBefore = afterField;  // bit 0: the byte before the vector ends a field
    std::size_t kept = 0;
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const Squeezed squeezed = squeezeVector(loadVector(in + at), separator, false, fieldBefore);
        kept += packVector(squeezed.bytes, squeezed.kept, to + kept);
    }
    afterField = fieldBefore != 0;
    return kept + portableKernels.squeezeBlankRuns(in + at, length - at, out + kept, separator, afterField);
}

// As above, with an LF for a separator and the CRs dropped; each group of
// eight has its bytes kept packed and a CR put before each LF among them.
std::size_t blankRunsToLineEnds(const unsigned char* in, std::size_t length, char* out, bool& afterField) {
    const uint8x8_t cr = vdup_n_u8(carriageReturn);
    auto* const to = reinterpret_cast<unsigned char*>(out);
    std::uint32_t fieldBefore = afterField;  // bit 0: the byte before the vector ends a field
    std::size_t written = 0;
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const Squeezed squeezed = squeezeVector(loadVector(in + at), '\n', true, fieldBefore);
        const Groups groups = groupsOf(squeezed.bytes);
        for (unsigned g = 0; g < 2; ++g)
            written += packAndSpreadLineEnds<2>(groups.group[g], squeezed.kept >> 8 * g & 0xff, '\n', cr, to + written);
    }
    afterField = fieldBefore != 0;
    return written + portableKernels.blankRunsToLineEnds(in + at, length - at, out + written, afterField);
}

// Every `from` becomes the byte of `to` and gets its other copies put in
// front of it.
template <std::size_t toLength>
std::size_t spreadEach(const char* in, std::size_t length, char* out, char from, char to) {
    const uint8x16_t froms = vdupq_n_u8(static_cast<std::uint8_t>(from));
    const uint8x16_t tos = vdupq_n_u8(static_cast<std::uint8_t>(to));
    std::size_t written = 0;
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const uint8x16_t bytes = loadVector(in + at);
        const uint8x16_t found = vceqq_u8(bytes, froms);
        written += spreadVector<toLength>(vbslq_u8(found, tos, bytes), bitsOf(found), vget_low_u8(tos),
                                          reinterpret_cast<unsigned char*>(out + written));
    }
    const char tail[] = {to, to, to, to};
    return written + portableKernels.replaceEach(in + at, length - at, out + written, from, tail, toLength);
}

// Every `from` becomes `to`; `out` may be `in` itself.
std::size_t replaceEachByOne(const char* in, std::size_t length, char* out, char from, char to) {
    const uint8x16_t froms = vdupq_n_u8(static_cast<std::uint8_t>(from));
    const uint8x16_t tos = vdupq_n_u8(static_cast<std::uint8_t>(to));
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const uint8x16_t vector = loadVector(in + at);
        vst1q_u8(reinterpret_cast<std::uint8_t*>(out + at), vbslq_u8(vceqq_u8(vector, froms), tos, vector));
    }
    return at + portableKernels.replaceEach(in + at, length - at, out + at, from, &to, 1);
}

void replaceInPlace(char* bytes, std::size_t length, char from, char to) {
    replaceEachByOne(bytes, length, bytes, from, to);
}

// When `to` is one, two or three copies of one byte it is spread; any other
// `to` goes the portable way.
std::size_t replaceEach(const char* in, std::size_t length, char* out, char from, const char* to,
                        std::size_t toLength) {
    const char first[] = {*to, '\0'};
    if (toLength == 1) return replaceEachByOne(in, length, out, from, *to);
    if (std::strspn(to, first) >= toLength) {
        if (toLength == 2) return spreadEach<2>(in, length, out, from, *to);
        if (toLength == 3) return spreadEach<3>(in, length, out, from, *to);
    }
    return portableKernels.replaceEach(in, length, out, from, to, toLength);
}

// In each group of eight, the line ends of empty lines are packed out, and
// each line end left is spread to `lineEndCount` CR LFs: its first byte (an
// LF, or the CR of a CR LF `lineEndLength` 2 bytes long) gets the CR LFs of
// the blank lines, and an LF its own CR, put in front of it. A CR LF may be
// split between two vectors, or between the last vector and the bytes left
// over, which go the portable way with whole pairs.
template <std::size_t lineEndLength, std::size_t lineEndCount>
std::size_t spaceLinesEndedBy(const char* in, std::size_t length, char* out, bool& inLine) {
    constexpr bool crLf = lineEndLength == 2;
    constexpr std::size_t places = 2 * lineEndCount + 1 - lineEndLength;
    constexpr std::size_t mostMarked = crLf ? 4 : 8;  // of any eight bytes: each CR has its LF after it
    const char marker = crLf ? carriageReturn : '\n';
    const uint8x16_t lf = vdupq_n_u8('\n');
    const uint8x16_t cr = vdupq_n_u8(carriageReturn);
    const uint8x8_t crLfs = vreinterpret_u8_u16(vdup_n_u16(static_cast<std::uint16_t>(carriageReturn | '\n' << 8)));
    auto* const to = reinterpret_cast<unsigned char*>(out);
    std::uint32_t lineStart = !inLine;  // bit 0: the vector starts a line
    std::uint32_t emptyLineCr = 0;      // bit 0: the byte before the vector is the CR of an empty line
    std::size_t written = 0;
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const uint8x16_t bytes = loadVector(in + at);
        const std::uint32_t lineFeeds = matches(bytes, lf);
        const std::uint32_t marks = crLf ? matches(bytes, cr) : lineFeeds;
        const std::uint32_t emptyLineMarks = marks & (lineFeeds << 1 | lineStart);
        const std::uint32_t kept = ~(emptyLineMarks | (crLf ? emptyLineMarks << 1 | emptyLineCr : 0)) & 0xffff;
        lineStart = lineFeeds >> 15;
        emptyLineCr = crLf ? emptyLineMarks >> 15 : 0;
        if (kept == 0xffff) {  // no empty line ends here, as in most vectors
            written += spreadVector<places, 2, mostMarked>(bytes, marks, crLfs, to + written);
            continue;
        }
        const Groups groups = groupsOf(bytes);
        for (unsigned g = 0; g < 2; ++g)
            written += packAndSpreadLineEnds<places, 2, mostMarked>(groups.group[g], kept >> 8 * g & 0xff, marker,
                                                                    crLfs, to + written);
    }
    if (crLf && at > 0 && in[at - 1] == carriageReturn) {  // its LF comes next: a piece never ends between them
        if (emptyLineCr == 0) to[written++] = '\n';
        ++at;
        lineStart = 1;
    }
    inLine = lineStart == 0;
    const auto spaceRest = crLf ? portableKernels.spaceCrLfLines : portableKernels.spaceLines;
    return written + spaceRest(in + at, length - at, out + written, lineEndCount, inLine);
}

std::size_t spaceLines(const char* in, std::size_t length, char* out, std::size_t lineEndCount, bool& inLine) {
    return byLineEndCount(lineEndCount, [&](auto count) {
        return spaceLinesEndedBy<1, decltype(count)::value>(in, length, out, inLine);
    });
}

std::size_t spaceCrLfLines(const char* in, std::size_t length, char* out, std::size_t lineEndCount, bool& inLine) {
    return byLineEndCount(lineEndCount, [&](auto count) {
        return spaceLinesEndedBy<2, decltype(count)::value>(in, length, out, inLine);
    });
}

}  // namespace

const Kernels neonKernels = {
    .name = "neon",
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
