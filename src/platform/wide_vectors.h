#pragma once

// The 64-byte vector paths. On x86-64 processors with AVX-512 VBMI2, the byte
// compress and expand instructions drop CRs, add CRs or squeeze runs of
// blanks for a whole vector at once, without a branch that could guess wrong
// at each line end or field edge. Each such path has a portable one beside it
// that gives the same bytes and runs everywhere else.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZORVEN_WIDE_VECTORS 1
#include <immintrin.h>
// Marks a function built for those processors: call it only when
// `wideVectorsUsable()` says so.
#define WIDE_VECTOR_CODE __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))

#include <cstddef>
#include <cstdint>

/// The mask of the first `count` bytes of a vector (count <= 64).
inline std::uint64_t lowBits(std::size_t count) {
    return count < 64 ? (std::uint64_t{1} << count) - 1 : ~std::uint64_t{0};
}
#endif

/// True where the processor (and the system, which must save the vector
/// registers) has what the wide paths need, unless the tests turned them off.
bool wideVectorsUsable();

/// For tests: false sends every conversion down its portable path.
void allowWideVectors(bool allowed);
