// The kernels on 32-byte vectors, for x86-64 processors with AVX2 (from 2013
// on). AVX2 has no instruction that packs or spreads the bytes of a vector
// by a mask, so both go eight bytes at a time through a byte shuffle whose
// pattern is looked up by the eight bits of the mask (shuffle_patterns.h).
// Only these functions are built for such processors, so nothing they inline
// leaks into the rest of the program. The last bytes of each call, fewer than
// a vector, go the portable way.

#include <immintrin.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "kernels/kernel_sets.h"
#include "kernels/shuffle_patterns.h"

#define AVX2_CODE __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace {

constexpr unsigned char carriageReturn = 13;
constexpr std::size_t vectorSize = 32;

AVX2_CODE __m256i loadVector(const void* from) { return _mm256_loadu_si256(static_cast<const __m256i*>(from)); }

// One bit per byte of the vector: set where it equals `byte`.
AVX2_CODE std::uint32_t matches(__m256i vector, __m256i byte) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(vector, byte)));
}

// The four eight-byte groups of a vector, each in the low half of its own.
struct Groups {
    __m128i group[4];
};
AVX2_CODE Groups groupsOf(__m256i vector) {
    const __m128i low = _mm256_castsi256_si128(vector);
    const __m128i high = _mm256_extracti128_si256(vector, 1);
    return {{low, _mm_srli_si128(low, 8), high, _mm_srli_si128(high, 8)}};
}

// Stores the bytes of the group marked in `kept`, packed, and returns their
// number; eight bytes are stored in any case.
AVX2_CODE std::size_t packGroup(__m128i group, unsigned kept, void* to) {
    const __m128i pattern = _mm_cvtsi64_si128(static_cast<long long>(shuffles::packing[kept]));
    _mm_storel_epi64(static_cast<__m128i*>(to), _mm_shuffle_epi8(group, pattern));
    return static_cast<std::size_t>(std::popcount(kept));
}

AVX2_CODE std::size_t packVector(__m256i vector, std::uint32_t kept, unsigned char* to) {
    const Groups groups = groupsOf(vector);
    std::size_t count = 0;
    for (unsigned g = 0; g < 4; ++g) count += packGroup(groups.group[g], kept >> 8 * g & 0xff, to + count);
    return count;
}

// Stores the first `count` bytes of the group (its low half) spread, with
// the byte of its high half in the places in front of each marked byte, and
// returns how many bytes that makes; whole 16-byte shuffles are stored, as
// many as `mostMarked` marked bytes need.
template <std::size_t places, std::size_t kinds = 1, std::size_t mostMarked = 8>
AVX2_CODE std::size_t spreadGroup(__m128i group, std::size_t count, unsigned marked, unsigned char* to) {
    const auto& pattern = shuffles::spreading<places, kinds>.patterns[marked];
    for (std::size_t s = 0; s < shuffles::Spreading<places, kinds>::shufflesFor(mostMarked); ++s) {
        const __m128i shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern.data() + 16 * s));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16 * s), _mm_shuffle_epi8(group, shuffle));
    }
    return count + (places - 1) * static_cast<std::size_t>(std::popcount(marked));
}

// The bytes of the vector spread, the bytes of `added` in front of each
// marked byte (at most `mostMarked` of each eight).
template <std::size_t places, std::size_t kinds = 1, std::size_t mostMarked = 8>
AVX2_CODE std::size_t spreadVector(__m256i vector, std::uint32_t marked, __m128i added, unsigned char* to) {
    const __m128i low = _mm256_castsi256_si128(vector);
    const __m128i high = _mm256_extracti128_si256(vector, 1);
    // Each group of eight with eight added bytes after it.
    const __m128i groups[] = {_mm_unpacklo_epi64(low, added), _mm_unpackhi_epi64(low, added),
                              _mm_unpacklo_epi64(high, added), _mm_unpackhi_epi64(high, added)};
    std::size_t count = 0;
    for (unsigned g = 0; g < 4; ++g)
        count += spreadGroup<places, kinds, mostMarked>(groups[g], 8, marked >> 8 * g & 0xff, to + count);
    return count;
}

// Stores the bytes of the group marked in `kept`, packed, with the bytes of
// `added` in front of each `marker` byte among them (an LF, or the CR of a
// CR LF; at most `mostMarked` of them), and returns how many bytes that
// makes.
template <std::size_t places, std::size_t kinds = 1, std::size_t mostMarked = 8>
AVX2_CODE std::size_t packAndSpreadLineEnds(__m128i group, unsigned kept, char marker, __m128i added,
                                            unsigned char* to) {
    const __m128i pattern = _mm_cvtsi64_si128(static_cast<long long>(shuffles::packing[kept]));
    const __m128i packed = _mm_shuffle_epi8(group, pattern);
    // Past the packed bytes lie zeros, no line end among them.
    const auto lineEnds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(packed, _mm_set1_epi8(marker))));
    return spreadGroup<places, kinds, mostMarked>(_mm_unpacklo_epi64(packed, added),
                                                  static_cast<std::size_t>(std::popcount(kept)), lineEnds & 0xff, to);
}

bool runsHere() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}

// The write position never passes the read position, and each vector is
// loaded before any of its bytes are overwritten. The vector with the end
// mark, and the bytes after the last whole vector, go a byte at a time.
AVX2_CODE unsigned char* dropCarriageReturns(unsigned char* from, unsigned char* end, bool& markFound) {
    const __m256i cr = _mm256_set1_epi8(carriageReturn);
    const __m256i mark = _mm256_set1_epi8(endOfInputMark);
    unsigned char* to = from;
    for (; end - from >= static_cast<std::ptrdiff_t>(vectorSize); from += vectorSize) {
        const __m256i bytes = loadVector(from);
        if (matches(bytes, mark) != 0) break;
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
// (or the mark) ends the count. From `at` on, `crBefore` (bit 0) saying
// whether the byte before is a CR; the bytes after the last whole vector go
// the portable way, with the CR that may end that vector.
AVX2_CODE std::size_t crLfTextLengthFrom(const unsigned char* bytes, std::size_t count, std::size_t at,
                                         std::uint32_t crBefore) {
    const __m256i cr = _mm256_set1_epi8(carriageReturn);
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i mark = _mm256_set1_epi8(endOfInputMark);
    for (; count - at >= vectorSize; at += vectorSize) {
        const __m256i vector = loadVector(bytes + at);
        const std::uint32_t crs = matches(vector, cr);
        const std::uint32_t lfWanted = crs << 1 | crBefore;
        const std::uint32_t wrong = (lfWanted ^ matches(vector, lf)) | matches(vector, mark);
        if (wrong != 0) {
            const auto first = static_cast<std::size_t>(std::countr_zero(wrong));
            return at + first - (lfWanted >> first & 1);  // an LF was wanted: its CR goes too
        }
        crBefore = crs >> 31;
    }
    at -= crBefore;
    return at + portableKernels.crLfTextLength(bytes + at, count - at);
}

// Most text is all right: it goes four vectors at a time with one branch,
// each vector compared with the bytes one place before it, loaded from there,
// so that nothing carries from vector to vector. The block with a fault, and
// the bytes after the last whole block, go the careful way above.
AVX2_CODE std::size_t crLfTextLength(const unsigned char* bytes, std::size_t count) {
    constexpr std::size_t block = 4 * vectorSize;
    const __m256i cr = _mm256_set1_epi8(carriageReturn);
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i mark = _mm256_set1_epi8(endOfInputMark);
    std::size_t at = 0;
    if (count > block && bytes[0] != '\n' && bytes[0] != endOfInputMark) {  // byte 0 has no byte before it
        for (at = 1; count - at >= block; at += block) {
            __m256i wrong = _mm256_setzero_si256();
            for (std::size_t v = at; v < at + block; v += vectorSize) {
                const __m256i vector = loadVector(bytes + v);
                const __m256i afterCr = _mm256_cmpeq_epi8(loadVector(bytes + v - 1), cr);
                wrong = _mm256_or_si256(wrong, _mm256_xor_si256(afterCr, _mm256_cmpeq_epi8(vector, lf)));
                wrong = _mm256_or_si256(wrong, _mm256_cmpeq_epi8(vector, mark));
            }
            if (!_mm256_testz_si256(wrong, wrong)) break;
        }
    }
    return crLfTextLengthFrom(bytes, count, at, at > 0 && bytes[at - 1] == carriageReturn);
}

// Each group of eight becomes at most sixteen bytes and stores sixteen, so
// nothing is stored past the room of twice the count.
AVX2_CODE unsigned char* addCarriageReturns(const unsigned char* from, std::size_t count, unsigned char* to) {
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8(carriageReturn);
    const unsigned char* const end = from + count;
    for (; end - from >= static_cast<std::ptrdiff_t>(vectorSize); from += vectorSize) {
        const __m256i bytes = loadVector(from);
        to += spreadVector<2>(bytes, matches(bytes, lf), cr, to);
    }
    return portableKernels.addCarriageReturns(from, end - from, to);
}

// Options 1 and 5 on one vector: the bytes with each blank made `separator`,
// and which of them are kept: all but the blanks that follow no field (and,
// with `dropCrs`, the CRs). `fieldBefore` (bit 0) says whether the byte
// before the vector ends a field, and becomes whether its last byte does.
struct Squeezed {
    __m256i bytes;
    std::uint32_t kept;
};
AVX2_CODE Squeezed squeezeVector(__m256i bytes, char separator, bool dropCrs, std::uint32_t& fieldBefore) {
    const __m256i blankBytes = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(' ')),
                                               _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\t')));
    const auto blanks = static_cast<std::uint32_t>(_mm256_movemask_epi8(blankBytes));
    const std::uint32_t crs = matches(bytes, _mm256_set1_epi8(carriageReturn));
    const std::uint32_t endsField = ~blanks & ~matches(bytes, _mm256_set1_epi8('\n')) & ~crs;
    const std::uint32_t kept = (~blanks | endsField << 1 | fieldBefore) & ~(dropCrs ? crs : 0);
    fieldBefore = endsField >> 31;
    return {_mm256_blendv_epi8(bytes, _mm256_set1_epi8(separator), blankBytes), kept};
}

AVX2_CODE std::size_t squeezeBlankRuns(const unsigned char* in, std::size_t length, char* out, char separator,
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
AVX2_CODE std::size_t blankRunsToLineEnds(const unsigned char* in, std::size_t length, char* out,
                                          bool& afterField) {
    const __m128i cr = _mm_set1_epi8(carriageReturn);
    auto* const to = reinterpret_cast<unsigned char*>(out);
    std::uint32_t fieldBefore = afterField;  // bit 0: the byte before the vector ends a field
    std::size_t written = 0;
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const Squeezed squeezed = squeezeVector(loadVector(in + at), '\n', true, fieldBefore);
        const Groups groups = groupsOf(squeezed.bytes);
        for (unsigned g = 0; g < 4; ++g)
            written += packAndSpreadLineEnds<2>(groups.group[g], squeezed.kept >> 8 * g & 0xff, '\n', cr, to + written);
    }
    afterField = fieldBefore != 0;
    return written + portableKernels.blankRunsToLineEnds(in + at, length - at, out + written, afterField);
}

// Every `from` becomes the byte of `to` and gets its other copies put in
// front of it.
template <std::size_t toLength>
AVX2_CODE std::size_t spreadEach(const char* in, std::size_t length, char* out, char from, char to) {
    const __m256i froms = _mm256_set1_epi8(from);
    const __m256i tos = _mm256_set1_epi8(to);
    std::size_t written = 0;
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const __m256i bytes = loadVector(in + at);
        const __m256i found = _mm256_cmpeq_epi8(bytes, froms);
        const auto marked = static_cast<std::uint32_t>(_mm256_movemask_epi8(found));
        written += spreadVector<toLength>(_mm256_blendv_epi8(bytes, tos, found), marked,
                                          _mm256_castsi256_si128(tos),
                                          reinterpret_cast<unsigned char*>(out + written));
    }
    const char tail[] = {to, to, to, to};
    return written + portableKernels.replaceEach(in + at, length - at, out + written, from, tail, toLength);
}

// Every `from` becomes `to`; `out` may be `in` itself.
AVX2_CODE std::size_t replaceEachByOne(const char* in, std::size_t length, char* out, char from, char to) {
    const __m256i froms = _mm256_set1_epi8(from);
    const __m256i tos = _mm256_set1_epi8(to);
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const __m256i vector = loadVector(in + at);
        const __m256i replaced = _mm256_blendv_epi8(vector, tos, _mm256_cmpeq_epi8(vector, froms));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), replaced);
    }
    return at + portableKernels.replaceEach(in + at, length - at, out + at, from, &to, 1);
}

AVX2_CODE void replaceInPlace(char* bytes, std::size_t length, char from, char to) {
    replaceEachByOne(bytes, length, bytes, from, to);
}

// When `to` is one, two or three copies of one byte it is spread; any other
// `to` goes the portable way.
AVX2_CODE std::size_t replaceEach(const char* in, std::size_t length, char* out, char from, const char* to,
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
AVX2_CODE std::size_t spaceLinesEndedBy(const char* in, std::size_t length, char* out, bool& inLine) {
    constexpr bool crLf = lineEndLength == 2;
    constexpr std::size_t places = 2 * lineEndCount + 1 - lineEndLength;
    constexpr std::size_t mostMarked = crLf ? 4 : 8;  // of any eight bytes: each CR has its LF after it
    const char marker = crLf ? carriageReturn : '\n';
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i cr = _mm256_set1_epi8(carriageReturn);
    const __m128i crLfs = _mm_set1_epi16(static_cast<short>(carriageReturn | '\n' << 8));  // CR, LF, CR, ... in memory
    auto* const to = reinterpret_cast<unsigned char*>(out);
    std::uint32_t lineStart = !inLine;  // bit 0: the vector starts a line
    std::uint32_t emptyLineCr = 0;      // bit 0: the byte before the vector is the CR of an empty line
    std::size_t written = 0;
    std::size_t at = 0;
    for (; length - at >= vectorSize; at += vectorSize) {
        const __m256i bytes = loadVector(in + at);
        const std::uint32_t lineFeeds = matches(bytes, lf);
        const std::uint32_t marks = crLf ? matches(bytes, cr) : lineFeeds;
        const std::uint32_t emptyLineMarks = marks & (lineFeeds << 1 | lineStart);
        const std::uint32_t kept = ~(emptyLineMarks | (crLf ? emptyLineMarks << 1 | emptyLineCr : 0));
        lineStart = lineFeeds >> 31;
        emptyLineCr = crLf ? emptyLineMarks >> 31 : 0;
        if (kept == ~std::uint32_t{0}) {  // no empty line ends here, as in most vectors
            written += spreadVector<places, 2, mostMarked>(bytes, marks, crLfs, to + written);
            continue;
        }
        const Groups groups = groupsOf(bytes);
        for (unsigned g = 0; g < 4; ++g)
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

AVX2_CODE std::size_t spaceLines(const char* in, std::size_t length, char* out, std::size_t lineEndCount,
                                 bool& inLine) {
    return byLineEndCount(lineEndCount, [&](auto count) {
        return spaceLinesEndedBy<1, decltype(count)::value>(in, length, out, inLine);
    });
}

AVX2_CODE std::size_t spaceCrLfLines(const char* in, std::size_t length, char* out, std::size_t lineEndCount,
                                     bool& inLine) {
    return byLineEndCount(lineEndCount, [&](auto count) {
        return spaceLinesEndedBy<2, decltype(count)::value>(in, length, out, inLine);
    });
}

}  // namespace

const Kernels avx2Kernels = {
    .name = "avx2",
    .runsHere = runsHere,
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
