// readLine and readChar, called in any order with any buffer size and
// delimiter, and with the flags cleared between calls as a caller may: the
// bytes stored, the count and the flags are compared with a plain model.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "platform/text_file.h"

namespace {

// The file as the model sees it: the text still to be read and the flags.
struct Model {
    std::string text;
    std::size_t at = 0;
    bool endOfInput = false;
    bool failed = false;

    bool good() const { return !endOfInput && !failed; }

    int readChar() {
        if (!good()) {
            failed = true;
            return -1;
        }
        if (at == text.size()) {
            endOfInput = failed = true;
            return -1;
        }
        return static_cast<unsigned char>(text[at++]);
    }

    // Returns the stored line; `touched` is false where the buffer is left alone.
    std::string readLine(std::size_t size, char delimiter, bool& touched) {
        touched = size > 0;
        if (!good() || size == 0) {
            failed = true;
            return {};
        }
        std::string line;
        for (;;) {
            if (line.size() == size - 1) {  // full: only the delimiter may still be taken
                if (at < text.size() && text[at] == delimiter)
                    ++at;
                else
                    failed = true;
                return line;
            }
            if (at == text.size()) {
                endOfInput = true;
                failed = line.empty();
                return line;
            }
            const char c = text[at++];
            if (c == delimiter) return line;
            line += c;
        }
    }
};

[[noreturn]] void differs(const char* what, std::size_t step) {
    std::fprintf(stderr, "step %zu: %s differs from the model\n", step, what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const bool padded = provider.ConsumeBool();
    fuzz::useKernelsNumbered(provider.ConsumeIntegral<std::uint8_t>());
    const unsigned shift = provider.ConsumeIntegral<std::uint8_t>();
    const std::string bytes = provider.ConsumeRandomLengthString(4096);
    // A long first line moves the fuzzed bytes across the end of the first read.
    const std::string raw = (padded ? fuzz::filler(shift, 'x') + "\n" : std::string()) + bytes;

    const std::string path = fuzz::scratchDirectory() + "/in";
    writeFile(path, raw);
    TextFile file;
    openInputFile(file, path.c_str());
    if (file.failed) std::abort();
    Model model{textOf(raw)};

    if (padded) {
        std::string first(70000, '\0');
        bool touched;
        const std::size_t length = readLine(file, first.data(), first.size(), '\n');
        if (first.substr(0, length) != model.readLine(first.size(), '\n', touched)) differs("the first line", 0);
    }
    for (std::size_t step = 1; provider.remaining_bytes() > 0; ++step) {
        switch (provider.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            const std::size_t bufferSize = provider.ConsumeIntegralInRange<std::size_t>(0, 1100);
            const char delimiter = provider.ConsumeBool() ? '\n' : provider.ConsumeIntegral<char>();
            // Exactly the size asked for, so a byte written past it is caught.
            const auto buffer = std::make_unique<char[]>(bufferSize);
            std::memset(buffer.get(), '#', bufferSize);
            bool touched;
            const std::string expected = model.readLine(bufferSize, delimiter, touched);
            const std::size_t length = readLine(file, buffer.get(), bufferSize, delimiter);
            if (length != expected.size()) differs("the length", step);
            if (touched && (std::memcmp(buffer.get(), expected.data(), length) != 0 || buffer[length] != '\0'))
                differs("the stored line", step);
            break;
        }
        case 1:
            if (readChar(file) != model.readChar()) differs("the byte", step);
            break;
        case 2:  // as a caller may after a cut line, to read on
            file.failed = model.failed = false;
            break;
        default:
            file.failed = model.failed = false;
            file.endOfInput = model.endOfInput = false;
            break;
        }
        if (file.endOfInput != model.endOfInput || file.failed != model.failed) differs("the flags", step);
        if (file.ioError) differs("ioError", step);
    }
    closeFile(file);
    return 0;
}
