#pragma once

#include "kernels/kernels.h"

// The sets themselves, for the dispatch and for a vector set that hands the
// ends of its input, or a case it has no vector loop for, to the portable one.
// Each is defined in its own file, which CMake builds only for the processors
// it is for.

extern const Kernels portableKernels;
extern const Kernels avx512Kernels;
extern const Kernels avx2Kernels;
extern const Kernels neonKernels;
