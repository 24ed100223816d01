// Differential fuzzing of the six conversions: any bytes, any option and
// parameter, compared with the tests' plain model of what each one writes.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "filters/filters.h"
#include "fuzz_support.h"

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
    if (readFile(dir + "/out") != convertByteByByte(option, option == 6 ? lineSpaces : tabs, raw)) {
        std::fprintf(stderr, "option %d: output differs from the model\n", option);
        std::abort();
    }
    return 0;
}
