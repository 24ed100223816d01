#pragma once

// The 64-byte vector paths. On x86-64 processors with AVX-512 VBMI2, the byte
// compress and expand instructions drop bytes or put bytes in (CRs, runs of
// blanks, empty lines; CRs, TABs, blank lines) for a whole vector at once,
// without a branch that could guess wrong at each line end or field edge.
// Each such path has a portable one beside it that gives the same bytes and
// runs everywhere else.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZORVEN_WIDE_VECTORS 1
#include <immintrin.h>
// Marks a function built for those processors: call it only when
// `wideVectorsUsable()` says so.
#define WIDE_VECTOR_CODE __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))

#include <cstddef>
#include <cstdint>

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
    WIDE_VECTOR_CODE std::uint64_t placesOfBytes(std::uint64_t marked) const {
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
#endif

/// True where the processor (and the system, which must save the vector
/// registers) has what the wide paths need, unless the tests turned them off.
bool wideVectorsUsable();

/// For tests: false sends every conversion down its portable path.
void allowWideVectors(bool allowed);
