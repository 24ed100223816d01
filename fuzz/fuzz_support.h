#pragma once

// Helpers shared by the fuzz targets: a scratch directory and the buffer
// boundary filler. Whole-file reads and writes and the model of the reading
// rule come from the tests' own helpers.

#include <string>

#include "conversion_model.h"
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

}  // namespace fuzz
