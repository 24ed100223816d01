// Differential fuzzing of the six conversions: any bytes, any option and
// parameter, compared with the tests' plain model of what each one writes.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "filters/filters.h"
#include "fuzz_support.h"

namespace {

// Converts the raw bytes by the option and aborts where the file written
// differs from the model's.
void convertAndCompare(int option, int tabs, int lineSpaces, const std::string& raw, const std::string& expected) {
    const std::string dir = fuzz::scratchDirectory();
    writeFile(dir + "/in", raw);
    TextFile input;
    TextFile output;
    openInputFile(input, (dir + "/in").c_str());
    openOutputFile(output, (dir + "/out").c_str());
    if (input.failed || output.failed) std::abort();

    const std::string tabSeparator(static_cast<std::size_t>(tabs), '\t');
    switch (option) {
    case 1: filterSpcTabToComma(input, output); break;
    case 2: filterCommaToSpace(input, output); break;
    case 3: filterCommaToTab(input, output, tabSeparator.c_str()); break;
    case 4: filterSpaceToTab(input, output, tabSeparator.c_str()); break;
    case 5: filterSpcTabToNewline(input, output); break;
    default: filterLineSpacing(input, output, lineSpaces); break;
    }
    closeFile(input);
    closeFile(output);
    if (input.ioError || output.ioError || output.failed) std::abort();
    if (readFile(dir + "/out") != expected) {
        std::fprintf(stderr, "option %d, %s kernels: output differs from the model\n", option, kernels().name);
        std::abort();
    }
}

// The bytes with every CR dropped and every LF made CR LF: text whose line
// ends are all CR LF, which the files lend as it is.
std::string asCrLfText(const std::string& bytes) {
    std::string text;
    for (const char c : bytes)
        if (c != '\r') text += c;
    return withCrLf(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const int option = provider.ConsumeIntegralInRange<int>(1, 6);
    const int tabs = provider.ConsumeIntegralInRange<int>(1, 3);
    const int lineSpaces = provider.ConsumeIntegralInRange<int>(-2, 6);  // the filter holds it to 0..4
    const bool padded = provider.ConsumeBool();
    fuzz::useKernelsNumbered(provider.ConsumeIntegral<std::uint8_t>());
    const unsigned shift = provider.ConsumeIntegral<std::uint8_t>();
    const char padding = " \t,\n\rx"[provider.ConsumeIntegralInRange<int>(0, 5)];
    const std::string bytes = provider.ConsumeRemainingBytesAsString();
    const std::string raw = (padded ? fuzz::filler(shift, padding) : std::string()) + bytes;
    const int parameter = option == 6 ? lineSpaces : tabs;
    convertAndCompare(option, tabs, lineSpaces, raw, convertByteByByte(option, parameter, raw));

    // The same bytes as CR LF text, on every set. A padding of line ends
    // would double in length; one of another byte keeps the fuzzed bytes
    // across the end of the first read, as above.
    const char crLfPadding = padding == '\n' || padding == '\r' ? 'x' : padding;
    const std::string crLf = (padded ? fuzz::filler(shift, crLfPadding) : std::string()) + asCrLfText(bytes);
    const std::string expected = convertByteByByte(option, parameter, crLf);
    const Kernels& chosen = kernels();
    for (const Kernels* set : kernelSets()) {
        if (!set->runsHere()) continue;
        useKernels(*set);
        convertAndCompare(option, tabs, lineSpaces, crLf, expected);
    }
    useKernels(chosen);
    return 0;
}
