#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each one for the
# given number of seconds (default 30); fails on the first finding.
#   scripts/fuzz.sh          the bounded run of the test command
#   scripts/fuzz.sh 3600     a long run: an hour per target
# New inputs that reach new code are kept in build-fuzz/corpus/<target>/; a
# failing input is written to build-fuzz/crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
top="$PWD"  # the dialogue fuzzer works in a directory of its own: paths are absolute
seconds="${1:-30}"

cxx="$(command -v clang++-14 || command -v clang++)"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
    -DZORVEN_FUZZ=ON -DZORVEN_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" --target fuzz_filters fuzz_read_line fuzz_dialogue

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in filters read_line dialogue; do
    echo "== fuzz $target for ${seconds}s"
    mkdir -p "build-fuzz/corpus/$target"
    # -timeout: one input running longer than this is a hang and a finding.
    log="build-fuzz/fuzz-$target.log"
    # setsid: no controlling terminal, so the dialogue never waits for a key.
    if ! setsid -w build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=60 -max_len=8192 \
        -artifact_prefix="$top/build-fuzz/" -print_final_stats=1 \
        "$top/build-fuzz/corpus/$target" "$top/fuzz/corpus/$target" >"$log" 2>&1; then
        cat "$log"
        echo "fuzz $target: finding above; the input is in build-fuzz/" >&2
        exit 1
    fi
    grep -E "^(kernels fuzzed|Done|stat::number_of_executed_units|stat::peak_rss_mb)" "$log" || tail -n 3 "$log"
done
