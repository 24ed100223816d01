// Throughput of the six conversions in-process, in bytes of input per second:
// a generated CR LF text file in the temporary directory, converted to
// /dev/null, so the figures show the filters and the file buffering without
// the disk; each option on each set of kernels this build has (kernels:0 the
// widest, each labelled with its name; a set this processor cannot run is
// skipped and says so). Run: build/filters_perftest

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "filters/filters.h"
#include "kernels/kernels.h"

namespace {

constexpr std::size_t inputSize = 16 << 20;

// Words of 1 to 12 characters, runs of spaces, tabs and commas, some empty
// and blank-only lines; CR LF line ends. The same text on every run.
std::string makeText(std::size_t size) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-";
    static const char* const separators[] = {" ", "  ", "\t", ",", " \t ", ", ", "    ", " "};
    std::mt19937 random(1);
    auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
    std::string text;
    while (text.size() < size) {
        const unsigned kind = below(100);
        if (kind < 4) {
            // an empty line
        } else if (kind < 7) {
            text.append(1 + below(8), ' ');
        } else {
            const unsigned words = 1 + below(12);
            for (unsigned w = 0; w < words; ++w) {
                for (unsigned i = 1 + below(12); i > 0; --i) text += letters[below(64)];
                if (w + 1 < words || below(10) == 0) text += separators[below(8)];
            }
        }
        text += "\r\n";
    }
    return text;
}

const std::string& inputName() {
    static const std::string name = [] {
        const char* directory = std::getenv("TMPDIR");
        std::string path = std::string(directory != nullptr ? directory : "/tmp") + "/filters_perftest.txt";
        std::ofstream(path, std::ios::binary) << makeText(inputSize);
        return path;
    }();
    return name;
}

// The argument picks the set of kernels, counted from the widest.
template <typename Filter>
void convert(benchmark::State& state, Filter filter) {
    const Kernels& set = *kernelSets()[static_cast<std::size_t>(state.range(0))];
    if (!set.runsHere()) {
        state.SkipWithError((std::string(set.name) + " kernels: this processor lacks them").c_str());
        return;
    }
    state.SetLabel(set.name);
    const Kernels& before = kernels();
    useKernels(set);
    const std::string& name = inputName();
    for (auto _ : state) {
        TextFile input;
        TextFile output;
        openInputFile(input, name.c_str());
        openOutputFile(output, "/dev/null");
        filter(input, output);
        closeFile(output);
        if (output.failed) state.SkipWithError("the conversion failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputSize));
    useKernels(before);
}

void option1(benchmark::State& state) { convert(state, filterSpcTabToComma); }
void option2(benchmark::State& state) { convert(state, filterCommaToSpace); }
void option3(benchmark::State& state) {
    convert(state, [](TextFile& in, TextFile& out) { filterCommaToTab(in, out, "\t"); });
}
void option4(benchmark::State& state) {
    convert(state, [](TextFile& in, TextFile& out) { filterSpaceToTab(in, out, "\t\t"); });
}
void option5(benchmark::State& state) { convert(state, filterSpcTabToNewline); }
void option6(benchmark::State& state) {
    convert(state, [](TextFile& in, TextFile& out) { filterLineSpacing(in, out, 1); });
}

// One run per set of kernels.
void everySet(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgName("kernels")->DenseRange(0, static_cast<int>(kernelSets().size()) - 1);
    benchmark->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(option1)->Apply(everySet);
BENCHMARK(option2)->Apply(everySet);
BENCHMARK(option3)->Apply(everySet);
BENCHMARK(option4)->Apply(everySet);
BENCHMARK(option5)->Apply(everySet);
BENCHMARK(option6)->Apply(everySet);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::remove(inputName().c_str());
    return 0;
}
