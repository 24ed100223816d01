// The kernels on 64-byte vectors, for x86-64 processors with AVX-512 VBMI
// and VBMI2: the byte compress and expand instructions drop bytes or put
// bytes in (CRs, runs of blanks, empty lines; CRs, TABs, blank lines) for a
// whole vector at once, without a branch that could guess wrong at each line
// end or field edge, and a byte permute of two vectors lays bytes out for
// them. Only these functions are built for such processors, so nothing they
// inline leaks into the rest of the program.

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "kernels/kernel_sets.h"

#define AVX512_CODE __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))

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
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
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

// Where CR LF text stops among the bytes of `present` (all a whole vector's
// but at the end), counted from the vector's first byte: -1 for a CR just
// before it that no LF follows; 64 if it goes on. `crBefore` (bit 0) says
// whether the byte before the vector is a CR, and becomes whether the one at
// `last` is.
AVX512_CODE inline std::ptrdiff_t crLfTextStop(const unsigned char* from, std::uint64_t present, std::size_t last,
                                               std::uint64_t& crBefore) {
    const __m512i vector = _mm512_maskz_loadu_epi8(present, from);
    const std::uint64_t crs = _mm512_cmpeq_epi8_mask(vector, _mm512_set1_epi8(carriageReturn));
    const std::uint64_t lfWanted = crs << 1 | crBefore;
    const std::uint64_t wrong = ((lfWanted ^ _mm512_cmpeq_epi8_mask(vector, _mm512_set1_epi8('\n'))) & present) |
                                _mm512_cmpeq_epi8_mask(vector, _mm512_set1_epi8(endOfInputMark));
    crBefore = crs >> last & 1;
    if (wrong == 0) return 64;
    const auto first = static_cast<std::ptrdiff_t>(std::countr_zero(wrong));
    return first - static_cast<std::ptrdiff_t>(lfWanted >> first & 1);  // an LF was wanted: its CR goes too
}

// A CR is right where an LF follows it, and an LF where a CR comes before
// it: the first byte where the LFs differ from the CRs moved one place on
// (or the mark) ends the count, and so does a CR at the very end.
AVX512_CODE std::size_t crLfTextLength(const unsigned char* bytes, std::size_t count) {
    std::uint64_t crBefore = 0;  // bit 0: the byte before the vector is a CR
    std::size_t at = 0;
    for (; count - at >= 64; at += 64)
        if (const std::ptrdiff_t stop = crLfTextStop(bytes + at, ~std::uint64_t{0}, 63, crBefore); stop < 64)
            return at + stop;
    if (at < count)
        if (const std::ptrdiff_t stop = crLfTextStop(bytes + at, lowBits(count - at), count - at - 1, crBefore);
            stop < 64)
            return at + stop;
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

// A squeeze: what it puts for a blank run, and its state between vectors.
struct Squeezing {
    char separator;
    std::uint64_t fieldBefore;  // bit 0: the byte before the vector ends a field
    std::size_t kept;
};

// Options 1 and 5 go a vector at a time, each vector's bytes those of
// `present`, the last of them at `last`: a whole vector but at the end, so
// that the loop over whole vectors has constants for both. Which bytes are
// kept follows from three masks of the vector: all but the blanks that
// follow no field (and, with `dropCrs`, the CRs); `fieldBefore` becomes
// whether the byte at `last` ends a field.
struct Squeezed {
    __m512i bytes;
    std::uint64_t blanks;
    std::uint64_t lineFeeds;
    std::uint64_t kept;
};
AVX512_CODE inline Squeezed squeezeMasks(Squeezing& s, const unsigned char* from, std::uint64_t present,
                                         std::size_t last, bool dropCrs) {
    const __m512i bytes = _mm512_maskz_loadu_epi8(present, from);
    const std::uint64_t blanks = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(' ')) |
                                 _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('\t'));
    const std::uint64_t crs = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(carriageReturn));
    const std::uint64_t lineFeeds = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('\n'));
    const std::uint64_t endsField = present & ~blanks & ~lineFeeds & ~crs;
    const std::uint64_t kept = present & (~blanks | endsField << 1 | s.fieldBefore) & ~(dropCrs ? crs : 0);
    s.fieldBefore = endsField >> last & 1;
    return {bytes, blanks, lineFeeds, kept};
}

// The compress instruction packs the bytes kept.
AVX512_CODE inline void squeezeVector(Squeezing& s, const unsigned char* from, std::uint64_t present, std::size_t last,
                                      char* out) {
    const Squeezed squeezed = squeezeMasks(s, from, present, last, false);
    const __m512i stored = _mm512_mask_blend_epi8(squeezed.blanks, squeezed.bytes, _mm512_set1_epi8(s.separator));
    _mm512_storeu_si512(out + s.kept, _mm512_maskz_compress_epi8(squeezed.kept, stored));  // a whole vector is cheaper
    s.kept += static_cast<std::size_t>(std::popcount(squeezed.kept));
}

AVX512_CODE std::size_t squeezeBlankRuns(const unsigned char* in, std::size_t length, char* out, char separator,
                                         bool& afterField) {
    Squeezing s = {separator, afterField, 0};
    std::size_t at = 0;
    for (; length - at >= 64; at += 64) squeezeVector(s, in + at, ~std::uint64_t{0}, 63, out);
    if (at < length) squeezeVector(s, in + at, lowBits(length - at), length - at - 1, out);
    afterField = s.fieldBefore != 0;
    return s.kept;
}

// Option 5 on one vector, as `squeezeVector` with an LF for a separator and
// the CRs dropped: every byte gets a place in front of it for a CR, used by
// the LFs kept, separators and line ends, and dropped by the rest. The bytes
// and their places, interleaved (64 places for each half of the vector), are
// packed by two compresses: no expand, and no mask to work out for one.
AVX512_CODE inline void squeezeToLineEndsVector(Squeezing& s, const unsigned char* from, std::uint64_t present,
                                                std::size_t last, char* out) {
    constexpr std::uint64_t bytePlaces = 0xaaaa'aaaa'aaaa'aaaa;  // the odd places; the even ones are for CRs
    const __m512i cr = _mm512_set1_epi8(carriageReturn);
    const __m512i lf = _mm512_set1_epi8('\n');
    const Squeezed squeezed = squeezeMasks(s, from, present, last, true);
    const std::uint64_t keep = squeezed.kept;
    const std::uint64_t lineEnds = keep & (squeezed.blanks | squeezed.lineFeeds);
    // Each 128-bit lane gets quarters L and L + 4 of the vector, so that
    // interleaving the low and the high halves of the lanes with CRs gives
    // the first 32 bytes with their places, then the last 32.
    const __m512i lanes = _mm512_maskz_permutexvar_epi64(0xff, _mm512_setr_epi64(0, 4, 1, 5, 2, 6, 3, 7),
                                                         _mm512_mask_blend_epi8(squeezed.blanks, squeezed.bytes, lf));
    const std::uint64_t firstKept = _pdep_u64(keep, bytePlaces) | _pdep_u64(lineEnds, ~bytePlaces);
    const std::uint64_t lastKept = _pdep_u64(keep >> 32, bytePlaces) | _pdep_u64(lineEnds >> 32, ~bytePlaces);
    _mm512_storeu_si512(out + s.kept, _mm512_maskz_compress_epi8(firstKept, _mm512_unpacklo_epi8(cr, lanes)));
    s.kept += static_cast<std::size_t>(std::popcount(firstKept));
    _mm512_storeu_si512(out + s.kept, _mm512_maskz_compress_epi8(lastKept, _mm512_unpackhi_epi8(cr, lanes)));
    s.kept += static_cast<std::size_t>(std::popcount(lastKept));
}

AVX512_CODE std::size_t blankRunsToLineEnds(const unsigned char* in, std::size_t length, char* out,
                                            bool& afterField) {
    Squeezing s = {'\n', afterField, 0};
    std::size_t at = 0;
    for (; length - at >= 64; at += 64) squeezeToLineEndsVector(s, in + at, ~std::uint64_t{0}, 63, out);
    if (at < length) squeezeToLineEndsVector(s, in + at, lowBits(length - at), length - at - 1, out);
    afterField = s.fieldBefore != 0;
    return s.kept;
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
        std::size_t at = 0;
        for (; length - at >= 64; at += 64) {
            const __m512i bytes = _mm512_loadu_si512(in + at);
            _mm512_storeu_si512(out + at, _mm512_mask_blend_epi8(_mm512_cmpeq_epi8_mask(bytes, froms), bytes, tos));
        }
        const __m512i bytes = _mm512_maskz_loadu_epi8(lowBits(length - at), in + at);
        _mm512_storeu_si512(out + at, _mm512_mask_blend_epi8(_mm512_cmpeq_epi8_mask(bytes, froms), bytes, tos));
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
// The bytes of `present`, the last of them at `last`: a whole step but at
// the end, so that the loop over whole steps has constants for both.
template <std::size_t lineEndCount>
AVX512_CODE inline void spaceLinesStep(const char* in, std::uint64_t present, std::size_t last, char* out,
                                       std::size_t& written, std::uint64_t& lineStart) {
    constexpr Spreading spreading(lineEndCount);
    const __m512i lineEnd = _mm512_set1_epi8('\n');
    const __m512i bytes = _mm512_maskz_loadu_epi8(present, in);
    const std::uint64_t lineEnds = _mm512_mask_cmpeq_epi8_mask(present, bytes, lineEnd);
    const std::uint64_t kept = present & ~(lineEnds & (lineEnds << 1 | lineStart));
    const std::uint64_t keptLineEnds = _pext_u64(lineEnds, kept);  // where they are once packed
    const __m512i packed = _mm512_maskz_compress_epi8(kept, bytes);
    _mm512_storeu_si512(out + written, _mm512_mask_expand_epi8(lineEnd, spreading.placesOfBytes(keptLineEnds), packed));
    written += spreading.spreadCount(std::popcount(kept), std::popcount(keptLineEnds));
    lineStart = lineEnds >> last & 1;
}

template <std::size_t lineEndCount>
AVX512_CODE std::size_t spaceLinesBy(const char* in, std::size_t length, char* out, bool& inLine) {
    constexpr std::size_t step = Spreading(lineEndCount).bytesPerVector;
    std::uint64_t lineStart = !inLine;  // bit 0: the vector starts a line
    std::size_t written = 0;
    std::size_t at = 0;
    for (; length - at >= step; at += step)
        spaceLinesStep<lineEndCount>(in + at, lowBits(step), step - 1, out, written, lineStart);
    if (at < length)
        spaceLinesStep<lineEndCount>(in + at, lowBits(length - at), length - at - 1, out, written, lineStart);
    inLine = lineStart == 0;
    return written;
}

AVX512_CODE std::size_t spaceLinesWithLineFeeds(const char* in, std::size_t length, char* out,
                                                std::size_t lineEndCount, bool& inLine) {
    return byLineEndCount(lineEndCount, [&](auto count) {
        return spaceLinesBy<decltype(count)::value>(in, length, out, inLine);
    });
}

// Option 6 spaces the lines with LFs alone and then puts a CR before each
// LF, a step of four kilobytes at a time: two passes that each compress or
// expand a whole vector of bytes go faster here than one that does both,
// whose vectors could take half as many bytes.
constexpr std::size_t stepSize = 4096;

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

// Option 6 on CR LF text gives each byte `lineEndCount` places, all used by
// the CR and the LF of a line end left, only the first by any other byte
// kept: a line end's places, CR LF in turn, are its CR LFs. One compress per
// vector of places packs them, with no expand. The places are filled from
// two vectors: at the even places the byte itself, at the odd ones LF or CR
// in turn: with an even count an LF at each odd place and the LF made a CR
// at the even ones; with an odd count, at the odd places the byte with CR
// and LF swapped.
template <std::size_t lineEndCount>
struct CrLfPlaces {
    static constexpr std::size_t bytesPerVector = 64 / lineEndCount;    // whose places a vector holds
    static constexpr std::size_t step = bytesPerVector * lineEndCount;  // the bytes of `lineEndCount` vectors

    constexpr CrLfPlaces() {
        for (std::size_t v = 0; v < lineEndCount; ++v)
            for (std::size_t p = 0; p < 64; ++p) {
                const std::size_t byte = std::min(p / lineEndCount, bytesPerVector - 1);
                const bool odd = p % lineEndCount % 2 != 0;
                index[v][p] = static_cast<std::uint8_t>(bytesPerVector * v + byte + (odd ? 64 : 0));
            }
        for (std::size_t byte = 0; byte < bytesPerVector; ++byte)
            firstPlaces |= std::uint64_t{1} << byte * lineEndCount;
    }

    std::uint8_t index[lineEndCount][64] = {};  // for each vector of places, where its bytes come from
    std::uint64_t firstPlaces = 0;
};

// The bytes of `present`, the last of them at `last`: a whole step but at the
// end. `lineStart` (bit 0) says whether the step starts a line and
// `emptyLineCr` whether the byte before it is the CR of an empty line; both
// are updated for the next step.
template <std::size_t lineEndCount>
AVX512_CODE inline void spaceCrLfLinesStep(const char* in, std::uint64_t present, std::size_t last, char* out,
                                           std::size_t& written, std::uint64_t& lineStart, std::uint64_t& emptyLineCr) {
    const __m512i lf = _mm512_set1_epi8('\n');
    const __m512i cr = _mm512_set1_epi8(carriageReturn);
    const __m512i bytes = _mm512_maskz_loadu_epi8(present, in);
    const std::uint64_t lfs = _mm512_mask_cmpeq_epi8_mask(present, bytes, lf);
    const std::uint64_t crs = _mm512_mask_cmpeq_epi8_mask(present, bytes, cr);
    const std::uint64_t emptyCrs = crs & (lfs << 1 | lineStart);
    const std::uint64_t kept = present & ~emptyCrs & ~(emptyCrs << 1 | emptyLineCr);
    lineStart = lfs >> last & 1;
    emptyLineCr = emptyCrs >> last & 1;
    if constexpr (lineEndCount == 1) {
        _mm512_storeu_si512(out + written, _mm512_maskz_compress_epi8(kept, bytes));
        written += static_cast<std::size_t>(std::popcount(kept));
    } else if constexpr (lineEndCount == 2) {
        // The bytes interleaved with LFs by unpacking, as for option 5: each
        // 128-bit lane gets quarters L and L + 4 of the vector, so that the
        // low halves of the lanes give the first 32 bytes with their places,
        // the high halves the last 32.
        constexpr std::uint64_t firstOfTwo = 0x5555'5555'5555'5555;
        const std::uint64_t lineEnds = (crs | lfs) & kept;
        const __m512i lanes = _mm512_maskz_permutexvar_epi64(0xff, _mm512_setr_epi64(0, 4, 1, 5, 2, 6, 3, 7),
                                                             _mm512_mask_mov_epi8(bytes, lfs, cr));
        const std::uint64_t firstUsed = _pdep_u64(kept, firstOfTwo) | _pdep_u64(lineEnds, ~firstOfTwo);
        const std::uint64_t lastUsed = _pdep_u64(kept >> 32, firstOfTwo) | _pdep_u64(lineEnds >> 32, ~firstOfTwo);
        _mm512_storeu_si512(out + written, _mm512_maskz_compress_epi8(firstUsed, _mm512_unpacklo_epi8(lanes, lf)));
        written += static_cast<std::size_t>(std::popcount(firstUsed));
        _mm512_storeu_si512(out + written, _mm512_maskz_compress_epi8(lastUsed, _mm512_unpackhi_epi8(lanes, lf)));
        written += static_cast<std::size_t>(std::popcount(lastUsed));
    } else {
        static constexpr CrLfPlaces<lineEndCount> places;
        const std::uint64_t lineEnds = (crs | lfs) & kept;
        const __m512i even = lineEndCount % 2 == 0 ? _mm512_mask_mov_epi8(bytes, lfs, cr) : bytes;
        const __m512i odd =
            lineEndCount % 2 == 0 ? lf : _mm512_xor_si512(bytes, _mm512_set1_epi8(carriageReturn ^ '\n'));
        for (std::size_t v = 0; v < lineEndCount; ++v) {
            const __m512i placed = _mm512_permutex2var_epi8(even, _mm512_loadu_si512(places.index[v]), odd);
            const std::size_t first = places.bytesPerVector * v;
            const std::uint64_t used = _pdep_u64(kept >> first, places.firstPlaces) |
                                       _pdep_u64(lineEnds >> first, places.firstPlaces) * lowBits(lineEndCount);
            _mm512_storeu_si512(out + written, _mm512_maskz_compress_epi8(used, placed));
            written += static_cast<std::size_t>(std::popcount(used));
        }
    }
}

template <std::size_t lineEndCount>
AVX512_CODE std::size_t spaceCrLfLinesBy(const char* in, std::size_t length, char* out, bool& inLine) {
    constexpr std::size_t step = CrLfPlaces<lineEndCount>::step;
    std::uint64_t lineStart = !inLine;
    std::uint64_t emptyLineCr = 0;  // a piece never ends between a CR and its LF
    std::size_t written = 0;
    std::size_t at = 0;
    for (; length - at >= step; at += step)
        spaceCrLfLinesStep<lineEndCount>(in + at, lowBits(step), step - 1, out, written, lineStart, emptyLineCr);
    if (at < length)
        spaceCrLfLinesStep<lineEndCount>(in + at, lowBits(length - at), length - at - 1, out, written, lineStart,
                                         emptyLineCr);
    inLine = lineStart == 0;
    return written;
}

AVX512_CODE std::size_t spaceCrLfLines(const char* in, std::size_t length, char* out, std::size_t lineEndCount,
                                       bool& inLine) {
    return byLineEndCount(
        lineEndCount, [&](auto count) { return spaceCrLfLinesBy<decltype(count)::value>(in, length, out, inLine); });
}

}  // namespace

const Kernels avx512Kernels = {
    .name = "avx512",
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
