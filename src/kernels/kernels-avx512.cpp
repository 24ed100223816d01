// The kernels on 64-byte vectors, for x86-64 processors with AVX-512 VBMI2:
// its byte compress and expand instructions drop bytes or put bytes in (CRs,
// runs of blanks, empty lines; CRs, TABs, blank lines) for a whole vector at
// once, without a branch that could guess wrong at each line end or field
// edge. Only these functions are built for such processors, so nothing they
// inline leaks into the rest of the program.

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "kernels/kernel_sets.h"

#define AVX512_CODE __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))

namespace {

constexpr unsigned char carriageReturn = 13;

static_assert(64 <= maxStoreOverrun, "a whole vector may be stored past the bytes written");

/// The mask of the first `count` bytes of a vector (count <= 64).
constexpr std::uint64_t lowBits(std::size_t count) {
    return count < 64 ? (std::uint64_t{1} << count) - 1 : ~std::uint64_t{0};
}

/// Where the bytes of a vector go when each marked byte gets bytes put in
/// front of it (a CR before an LF, the further TABs of a separator, the LFs
/// of blank lines). Each of the first `bytesPerVector` bytes has `placesPerByte`
/// places in the output: the last for the byte itself, the ones before it for
/// added bytes, used only by a marked byte. Packing the used places together
/// (pext) gives the mask with which the expand instruction puts the bytes in
/// their places and an added byte in every place between.
struct Spreading {
    constexpr explicit Spreading(std::size_t places)
        : placesPerByte(places), bytesPerVector(64 / places), addedPlaces(lowBits(places - 1)) {
        for (std::size_t i = 0; i < bytesPerVector; ++i) {
            firstPlaces |= std::uint64_t{1} << i * placesPerByte;
            bytePlaces |= std::uint64_t{1} << (i * placesPerByte + placesPerByte - 1);
        }
    }

    /// The expand mask for the bytes whose marks are given.
    AVX512_CODE std::uint64_t placesOfBytes(std::uint64_t marked) const {
        // A first place times `addedPlaces`: the added places of that byte.
        const std::uint64_t used = _pdep_u64(marked, firstPlaces) * addedPlaces | bytePlaces;
        return _pext_u64(bytePlaces, used);
    }

    /// How many bytes `count` bytes become when `marked` of them are marked.
    constexpr std::size_t spreadCount(std::size_t count, std::size_t marked) const {
        return count + marked * (placesPerByte - 1);
    }

    std::size_t placesPerByte;
    std::size_t bytesPerVector;
    std::uint64_t addedPlaces;      // the added places of the first byte
    std::uint64_t firstPlaces = 0;  // the first place of each byte
    std::uint64_t bytePlaces = 0;   // the last, the byte's own
};

bool runsHere() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

// The bytes other than CR are packed to the front of the vector and stored.
// The write position never passes the read position, so a whole vector
// stored overwrites only bytes already loaded. The last vector, the one with
// the end mark or fewer than 64 bytes, stores only the bytes it keeps.
AVX512_CODE unsigned char* dropCarriageReturns(unsigned char* from, unsigned char* end, bool& markFound) {
    const __m512i cr = _mm512_set1_epi8(carriageReturn);
    const __m512i mark = _mm512_set1_epi8(endOfInputMark);
    unsigned char* to = from;
    for (; end - from >= 64; from += 64) {
        const __m512i bytes = _mm512_loadu_si512(from);
        if (_mm512_cmpeq_epi8_mask(bytes, mark) != 0) break;
        const __mmask64 kept = _mm512_cmpneq_epi8_mask(bytes, cr);
        _mm512_storeu_si512(to, _mm512_maskz_compress_epi8(kept, bytes));
        to += std::popcount(kept);
    }
    __mmask64 present = lowBits(std::min<std::size_t>(end - from, 64));
    const __m512i bytes = _mm512_maskz_loadu_epi8(present, from);
    const std::uint64_t marks = _mm512_mask_cmpeq_epi8_mask(present, bytes, mark);
    markFound = marks != 0;
    if (markFound) present = lowBits(static_cast<std::size_t>(std::countr_zero(marks)));
    const __mmask64 kept = _mm512_mask_cmpneq_epi8_mask(present, bytes, cr);
    const auto keptCount = static_cast<std::size_t>(std::popcount(kept));
    _mm512_mask_storeu_epi8(to, lowBits(keptCount), _mm512_maskz_compress_epi8(kept, bytes));
    return to + keptCount;
}

// A CR is right where an LF follows it, and an LF where a CR comes before
// it: the first byte where the LFs differ from the CRs moved one place on
// (or the mark) ends the count, and so does a CR at the very end.
AVX512_CODE std::size_t crLfTextLength(const unsigned char* bytes, std::size_t count) {
    const __m512i cr = _mm512_set1_epi8(carriageReturn);
    const __m512i lf = _mm512_set1_epi8('\n');
    const __m512i mark = _mm512_set1_epi8(endOfInputMark);
    std::uint64_t crBefore = 0;  // bit 0: the byte before the vector is a CR
    for (std::size_t at = 0; at < count; at += 64) {
        const std::size_t inVector = std::min<std::size_t>(count - at, 64);
        const std::uint64_t present = lowBits(inVector);
        const __m512i vector = _mm512_maskz_loadu_epi8(present, bytes + at);
        const std::uint64_t crs = _mm512_mask_cmpeq_epi8_mask(present, vector, cr);
        const std::uint64_t lfWanted = crs << 1 | crBefore;
        const std::uint64_t wrong = ((lfWanted ^ _mm512_mask_cmpeq_epi8_mask(present, vector, lf)) & present) |
                                    _mm512_mask_cmpeq_epi8_mask(present, vector, mark);
        if (wrong != 0) {
            const auto first = static_cast<std::size_t>(std::countr_zero(wrong));
            return at + first - (lfWanted >> first & 1);  // an LF was wanted: its CR goes too
        }
        crBefore = crs >> (inVector - 1) & 1;
    }
    return count - crBefore;
}

// 32 bytes in (at most 64 out) at a time: whole steps store a whole vector,
// which the room of twice the count holds, and what lies past the copy is
// overwritten by the next step; the last step stores only the bytes of the
// copy.
AVX512_CODE unsigned char* addCarriageReturns(const unsigned char* from, std::size_t count, unsigned char* to) {
    constexpr Spreading crBeforeLf(2);
    const __m512i lf = _mm512_set1_epi8('\n');
    const __m512i cr = _mm512_set1_epi8(carriageReturn);
    const unsigned char* const end = from + count;
    for (; end - from >= 32; from += 32) {
        const __m512i bytes = _mm512_maskz_loadu_epi8(lowBits(32), from);
        const std::uint64_t lineEnds = _mm512_cmpeq_epi8_mask(bytes, lf);
        _mm512_storeu_si512(to, _mm512_mask_expand_epi8(cr, crBeforeLf.placesOfBytes(lineEnds), bytes));
        to += crBeforeLf.spreadCount(32, std::popcount(lineEnds));
    }
    const std::size_t inCount = end - from;
    const __m512i bytes = _mm512_maskz_loadu_epi8(lowBits(inCount), from);  // the rest zero, so no LF
    const std::uint64_t lineEnds = _mm512_cmpeq_epi8_mask(bytes, lf);
    const std::size_t outCount = crBeforeLf.spreadCount(inCount, std::popcount(lineEnds));
    _mm512_mask_storeu_epi8(to, lowBits(outCount),
                            _mm512_mask_expand_epi8(cr, crBeforeLf.placesOfBytes(lineEnds), bytes));
    return to + outCount;
}

// Which bytes are kept follows from three masks of the vector, and the
// compress instruction packs them; with `dropCrs`, never a CR.
AVX512_CODE std::size_t squeeze(const unsigned char* in, std::size_t length, char* out, char separator, bool dropCrs,
                                bool& afterField) {
    const __m512i space = _mm512_set1_epi8(' ');
    const __m512i tab = _mm512_set1_epi8('\t');
    const __m512i lineEnd = _mm512_set1_epi8('\n');
    const __m512i carriageReturns = _mm512_set1_epi8(carriageReturn);
    const __m512i separators = _mm512_set1_epi8(separator);
    std::uint64_t fieldBefore = afterField;  // bit 0: the byte before the vector ends a field
    std::size_t kept = 0;
    for (std::size_t at = 0; at < length; at += 64) {
        const std::size_t count = std::min<std::size_t>(length - at, 64);
        const std::uint64_t present = lowBits(count);
        const __m512i bytes = _mm512_maskz_loadu_epi8(present, in + at);
        const std::uint64_t blanks = _mm512_cmpeq_epi8_mask(bytes, space) | _mm512_cmpeq_epi8_mask(bytes, tab);
        const std::uint64_t endsField = present & ~blanks & ~_mm512_cmpeq_epi8_mask(bytes, lineEnd) &
                                        ~_mm512_cmpeq_epi8_mask(bytes, carriageReturns);
        const std::uint64_t crs = dropCrs ? _mm512_cmpeq_epi8_mask(bytes, carriageReturns) : 0;
        const std::uint64_t keep = present & (~blanks | endsField << 1 | fieldBefore) & ~crs;
        const __m512i stored = _mm512_mask_blend_epi8(blanks, bytes, separators);
        const auto keptHere = static_cast<std::size_t>(std::popcount(keep));
        _mm512_storeu_si512(out + kept, _mm512_maskz_compress_epi8(keep, stored));  // a whole vector is cheaper
        kept += keptHere;
        fieldBefore = endsField >> (count - 1) & 1;
    }
    afterField = fieldBefore != 0;
    return kept;
}

AVX512_CODE std::size_t squeezeBlankRuns(const unsigned char* in, std::size_t length, char* out, char separator,
                                         bool& afterField) {
    return squeeze(in, length, out, separator, false, afterField);
}

// `to` is stored where the vector holds `from`, and nothing else is touched.
AVX512_CODE void replaceInPlace(char* bytes, std::size_t length, char from, char to) {
    const __m512i froms = _mm512_set1_epi8(from);
    const __m512i tos = _mm512_set1_epi8(to);
    for (std::size_t at = 0; at < length; at += 64) {
        const std::uint64_t present = lowBits(std::min<std::size_t>(length - at, 64));
        const __m512i vector = _mm512_maskz_loadu_epi8(present, bytes + at);
        _mm512_mask_storeu_epi8(bytes + at, _mm512_mask_cmpeq_epi8_mask(present, vector, froms), tos);
    }
}

// When `to` is copies of one byte, in each vector every `from` becomes that
// byte and gets the other copies put in front of it; any other `to` goes the
// portable way.
AVX512_CODE std::size_t replaceEach(const char* in, std::size_t length, char* out, char from, const char* to,
                                    std::size_t toLength) {
    const char first[] = {*to, '\0'};
    if (toLength == 1) {
        const __m512i froms = _mm512_set1_epi8(from);
        const __m512i tos = _mm512_set1_epi8(*to);
        for (std::size_t at = 0; at < length; at += 64) {
            const std::uint64_t present = lowBits(std::min<std::size_t>(length - at, 64));
            const __m512i bytes = _mm512_maskz_loadu_epi8(present, in + at);
            const __m512i replaced = _mm512_mask_blend_epi8(_mm512_cmpeq_epi8_mask(bytes, froms), bytes, tos);
            _mm512_storeu_si512(out + at, replaced);
        }
        return length;
    }
    if (std::strspn(to, first) < toLength) return portableKernels.replaceEach(in, length, out, from, to, toLength);
    const Spreading spreading(toLength);
    const __m512i froms = _mm512_set1_epi8(from);
    const __m512i tos = _mm512_set1_epi8(*to);
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

// A vector at a time and without a branch per line: the LFs that end empty
// lines are packed out (compress), and each LF left gets the LFs of its blank
// lines put in front of it.
AVX512_CODE std::size_t spaceLinesWithLineFeeds(const char* in, std::size_t length, char* out,
                                                std::size_t lineEndCount, bool& inLine) {
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

// Options 5 and 6 convert with LFs alone and then put a CR before each LF, a
// step of four kilobytes at a time: two passes that each compress or expand a
// whole vector of bytes go faster here than one that does both, whose vectors
// could take half as many bytes.
constexpr std::size_t stepSize = 4096;

AVX512_CODE std::size_t blankRunsToLineEnds(const unsigned char* in, std::size_t length, char* out,
                                            bool& afterField) {
    unsigned char squeezed[stepSize + maxStoreOverrun];
    auto* const begin = reinterpret_cast<unsigned char*>(out);
    unsigned char* to = begin;
    for (std::size_t at = 0; at < length; at += stepSize) {
        const std::size_t count = std::min(length - at, stepSize);
        const std::size_t kept =
            squeeze(in + at, count, reinterpret_cast<char*>(squeezed), '\n', true, afterField);
        to = addCarriageReturns(squeezed, kept, to);
    }
    return static_cast<std::size_t>(to - begin);
}

AVX512_CODE std::size_t spaceLines(const char* in, std::size_t length, char* out, std::size_t lineEndCount,
                                   bool& inLine) {
    // LFs alone: one-byte lines whose LFs become five each.
    unsigned char spaced[3 * stepSize + 2 + maxStoreOverrun];
    auto* const begin = reinterpret_cast<unsigned char*>(out);
    unsigned char* to = begin;
    for (std::size_t at = 0; at < length; at += stepSize) {
        const std::size_t count = std::min(length - at, stepSize);
        const std::size_t spacedCount =
            spaceLinesWithLineFeeds(in + at, count, reinterpret_cast<char*>(spaced), lineEndCount, inLine);
        to = addCarriageReturns(spaced, spacedCount, to);
    }
    return static_cast<std::size_t>(to - begin);
}

}  // namespace

const Kernels avx512Kernels = {
    "avx512",            runsHere,       dropCarriageReturns, crLfTextLength, addCarriageReturns, squeezeBlankRuns,
    blankRunsToLineEnds, replaceInPlace, replaceEach,         spaceLines,
};
