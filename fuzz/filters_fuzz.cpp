// Differential fuzzing of the six conversions: any bytes, any option and
// parameter, compared with a plain model of what each one writes.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filters/filters.h"
#include "fuzz_support.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The text cut at each LF; the piece after the last LF is a line only if it
// holds something.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0, lf;
    while ((lf = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Options 1 and 5, a line at a time: blanks before the first field are
// dropped, every other run of blanks becomes one separator.
std::string modelBlankRuns(const std::string& text, char separator) {
    std::string out;
    const auto lines = linesOf(text);
    const bool lastEnded = !text.empty() && text.back() == '\n';
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        std::size_t at = 0;
        while (at < line.size() && isBlank(line[at])) ++at;
        while (at < line.size()) {
            if (isBlank(line[at])) {
                out += separator;
                while (at < line.size() && isBlank(line[at])) ++at;
            } else {
                out += line[at++];
            }
        }
        if (i + 1 < lines.size() || lastEnded) out += '\n';
    }
    return out;
}

std::string modelReplace(const std::string& text, char from, const std::string& to) {
    std::string out;
    for (const char c : text) {
        if (c == from)
            out += to;
        else
            out += c;
    }
    return out;
}

// Option 6: empty lines dropped, every other line written whole and ended
// with 1 + lineSpaces LFs (lineSpaces held to 0..4).
std::string modelLineSpacing(const std::string& text, int lineSpaces) {
    std::string out;
    for (const std::string& line : linesOf(text))
        if (!line.empty()) out += line + std::string(1 + static_cast<std::size_t>(std::clamp(lineSpaces, 0, 4)), '\n');
    return out;
}

std::string withCrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
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

    const std::string dir = fuzz::scratchDirectory();
    writeFile(dir + "/in", raw);
    TextFile input;
    TextFile output;
    openInputFile(input, (dir + "/in").c_str());
    openOutputFile(output, (dir + "/out").c_str());
    if (input.failed || output.failed) std::abort();

    const std::string tabSeparator(static_cast<std::size_t>(tabs), '\t');
    const std::string text = fuzz::textOf(raw);
    std::string expected;
    switch (option) {
    case 1:
        filterSpcTabToComma(input, output);
        expected = modelBlankRuns(text, ',');
        break;
    case 2:
        filterCommaToSpace(input, output);
        expected = modelReplace(text, ',', " ");
        break;
    case 3:
        filterCommaToTab(input, output, tabSeparator.c_str());
        expected = modelReplace(text, ',', tabSeparator);
        break;
    case 4:
        filterSpaceToTab(input, output, tabSeparator.c_str());
        expected = modelReplace(text, ' ', tabSeparator);
        break;
    case 5:
        filterSpcTabToNewline(input, output);
        expected = modelBlankRuns(text, '\n');
        break;
    default:
        filterLineSpacing(input, output, lineSpaces);
        expected = modelLineSpacing(text, lineSpaces);
        break;
    }
    closeFile(input);
    closeFile(output);
    if (input.ioError || output.ioError || output.failed) std::abort();
    if (readFile(dir + "/out") != withCrLf(expected)) {
        std::fprintf(stderr, "option %d: output differs from the model\n", option);
        std::abort();
    }
    return 0;
}
