#pragma once

// Helpers shared by the fuzz targets: a scratch directory and the reading
// rule of text files written out plainly. Whole-file reads and writes come
// from the tests' own helpers.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "kernels/kernels.h"
#include "platform/text_file.h"
#include "test_support.h"

namespace fuzz {

// A directory of our own under TMPDIR (or /tmp), made once per process and
// removed when it exits.
inline const std::string& scratchDirectory() {
    struct Scratch {
        std::string path;
        Scratch() {
            const char* base = std::getenv("TMPDIR");
            path = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zorven-fuzz-XXXXXX";
            if (mkdtemp(path.data()) == nullptr) std::abort();
        }
        ~Scratch() {
            std::error_code ignored;  // leaving it behind is all that can happen
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Scratch scratch;
    return scratch.path;
}

// What a text file delivers for these bytes: every CR dropped, nothing from
// the first byte 26 on.
inline std::string textOf(const std::string& raw) {
    std::string text;
    for (const char c : raw) {
        if (c == 26) break;
        if (c != '\r') text += c;
    }
    return text;
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
