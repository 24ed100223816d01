#include "kernels/kernels.h"

#include "kernels/kernel_sets.h"

namespace {

// The sets CMake built for this processor family, widest first.
constexpr const Kernels* sets[] = {
#ifdef ZORVEN_KERNELS_AVX512
    &avx512Kernels,
#endif
#ifdef ZORVEN_KERNELS_AVX2
    &avx2Kernels,
#endif
#ifdef ZORVEN_KERNELS_NEON
    &neonKernels,
#endif
    &portableKernels,
};

const Kernels* widestThatRunsHere() {
    for (const Kernels* set : sets)
        if (set->runsHere()) return set;
    return &portableKernels;
}

// Chosen once, before main: what the processor can run does not change while
// the program runs.
const Kernels* inUse = widestThatRunsHere();

}  // namespace

const Kernels& kernels() { return *inUse; }

std::span<const Kernels* const> kernelSets() { return sets; }

void useKernels(const Kernels& set) { inUse = &set; }
