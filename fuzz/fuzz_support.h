#pragma once

// Helpers shared by the fuzz targets: a scratch directory and the buffer
// boundary filler. Whole-file reads and writes and the model of the reading
// rule come from the tests' own helpers.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "conversion_model.h"
#include "kernels/kernels.h"
#include "platform/text_file.h"
#include "temp_files.h"

namespace fuzz {

// A directory of our own, made once per process and removed when it exits.
inline const std::string& scratchDirectory() {
    static const TempDir scratch;
    return scratch.path();
}

// Plain bytes put before the fuzzed ones so that they straddle the end of the
// first buffer read (`shift` bytes before it), where buffers are refilled.
inline std::string filler(unsigned shift, char c) { return std::string(textFileBufferSize - shift, c); }

// Puts one of the sets of kernels this processor runs in use, picked by a
// fuzzed number, so that every set meets every input. The first call says
// which sets are fuzzed and which skipped.
inline void useKernelsNumbered(unsigned number) {
    static const struct Runnable {
        const Kernels* sets[8];
        unsigned count = 0;
        Runnable() {
            std::string ran, skipped;
            for (const Kernels* set : kernelSets()) {
                (set->runsHere() ? ran : skipped) += std::string(" ") + set->name;
                if (set->runsHere() && count < 8) sets[count++] = set;
            }
            std::fprintf(stderr, "kernels fuzzed:%s; skipped, as this processor lacks them:%s\n", ran.c_str(),
                         skipped.empty() ? " none" : skipped.c_str());
        }
    } runnable;
    useKernels(*runnable.sets[number % runnable.count]);
}

}  // namespace fuzz
