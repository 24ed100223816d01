#pragma once

#include <cstddef>
#include <type_traits>

#include "kernels/kernels.h"

// The sets themselves, for the dispatch and for a vector set that hands the
// ends of its input, or a case it has no vector loop for, to the portable one.
// Each is defined in its own file, which CMake builds only for the processors
// it is for.

extern const Kernels portableKernels;
extern const Kernels avx512Kernels;
extern const Kernels avx2Kernels;
extern const Kernels neonKernels;

/// Calls `spaceBy` with option 6's `lineEndCount` (1 to 5, more taken as 5)
/// as a constant, `std::integral_constant<std::size_t, count>`, so that a
/// vector set has a loop of its own for each count.
template <typename SpaceBy>
std::size_t byLineEndCount(std::size_t lineEndCount, const SpaceBy& spaceBy) {
    switch (lineEndCount) {
    case 1: return spaceBy(std::integral_constant<std::size_t, 1>{});
    case 2: return spaceBy(std::integral_constant<std::size_t, 2>{});
    case 3: return spaceBy(std::integral_constant<std::size_t, 3>{});
    case 4: return spaceBy(std::integral_constant<std::size_t, 4>{});
    default: return spaceBy(std::integral_constant<std::size_t, 5>{});
    }
}
