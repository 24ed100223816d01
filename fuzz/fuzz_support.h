#pragma once

// Helpers shared by the fuzz targets: a scratch directory, whole-file reads
// and writes, and the reading rule of text files written out plainly.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

inline void writeWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
// first 64 KiB read (`shift` bytes before it), where buffers are refilled.
inline std::string filler(unsigned shift, char c) { return std::string(64 * 1024 - shift, c); }

}  // namespace fuzz
