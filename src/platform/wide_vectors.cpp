#include "platform/wide_vectors.h"

namespace {

bool processorHasWideVectors() {
#ifdef ZORVEN_WIDE_VECTORS
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

// Asked once, before main: the answer cannot change while the program runs.
const bool processorHasThem = processorHasWideVectors();
bool allowed = true;

}  // namespace

bool wideVectorsUsable() { return processorHasThem && allowed; }

void allowWideVectors(bool allowedNow) { allowed = allowedNow; }
