#!/usr/bin/env bash
# Times the six conversions of a large generated CR LF text file against a
# plain block copy of it and against the fastest pipeline of standard tools
# that gives the same bytes, and prints one table. Peak memory is the maximum
# resident set of the program, for a 1 MiB file and for the large one.
#
#   bench/run.sh [MiB]        (default 256; the build goes to build/)
#
# Each path this processor has (the 64-byte AVX-512 kernels, the 32-byte AVX2
# ones, the portable ones) gets a build of its own, capped with
# ZORVEN_VECTORS (build-bench-<path>/), and a row per option.
#
# Times are wall times of whole runs, the best of several runs, since other
# work on the machine only ever adds time; the copy (dd bs=128k into a file
# removed before each run, so that neither side pays for emptying an old
# file) is timed beside each option, run for run. The program reads its
# answers from a file written before the clock starts, and is started as dd
# is, straight from the shell: neither side pays for a pipe, another process
# or a new session. (Its output goes to /dev/null, so it never waits for a
# key.) Generated files go to a temporary directory and are removed.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
mebibytes=${1:-256}
runs=${RUNS:-7}            # for the program and the copy
pipeline_runs=${PIPELINE_RUNS:-2}  # the pipelines take seconds each

# The build tools, and GNU time, which reports the maximum resident set.
scripts/install-deps.sh bench

# The paths this processor has, widest first, as ZORVEN_VECTORS names them.
paths=()
if [ "$(uname -m)" = x86_64 ]; then
    flags=" $(grep -m1 '^flags' /proc/cpuinfo | cut -d: -f2) "
    has() { for flag; do [[ $flags == *" $flag "* ]] || return 1; done; }
    if has avx512f avx512bw avx512vbmi avx512_vbmi2 bmi1 bmi2 popcnt; then paths+=(avx512); fi
    if has avx2 bmi1 bmi2 popcnt; then paths+=(avx2); fi
fi
paths+=(none)
for path in "${paths[@]}"; do
    cmake -S . -B "build-bench-$path" -DCMAKE_BUILD_TYPE=Release -DZORVEN_TESTS=OFF -DZORVEN_VECTORS="$path" >/dev/null
    cmake --build "build-bench-$path" --target zorven -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
done
program_for() { echo "$repo/build-bench-$1/zorven"; }
path_name() { [ "$1" = none ] && echo portable || echo "$1"; }
program=$(program_for "${paths[0]}")

work=$(mktemp -d "${TMPDIR:-/tmp}/zorven-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# A 4 MiB piece of text repeated: far more than a branch predictor or a cache
# could learn, and quick to make.
awk -v seed=1 -v bytes=$((4 << 20)) -f "$repo/bench/make_input.awk" >piece.txt
head -c $((1 << 20)) piece.txt >small.txt
: >big.txt
for ((i = 0; i < mebibytes / 4; i++)); do cat piece.txt; done >big.txt
cat big.txt >/dev/null  # into the page cache

# The answers for an option; the output goes to out.* (or 1sp_<input>).
answers() {
    local input=$1 option=$2
    case $option in
    1 | 2 | 5) printf '%s\n%s\nout\n' "$input" "$option" ;;
    3 | 4) printf '%s\n%s\n1\nout\n' "$input" "$option" ;;  # one tab
    6) printf '%s\n6\n1\n' "$input" ;;                      # one blank line
    esac
}
output_of() {
    case $1 in
    1) echo out.csv ;; 2 | 5) echo out.txt ;; 3 | 4) echo out.tsv ;; 6) echo 1sp_big.txt ;;
    esac
}
# A run with its answers already in answers.txt: the run that is timed.
run_answered() {
    "$program" <answers.txt >/dev/null 2>&1
}
run_program() {  # option, input
    answers "$2" "$1" >answers.txt
    run_answered
}

# Candidate pipelines per option, each reading big.txt and writing to stdout.
# LC_ALL=C: bytes, not characters, which is both right here and faster.
pipelines() {
    case $1 in
    1) echo "sed -E 's/^[ \t]+//; s/[ \t]+/,/g'"
       echo "awk '{ sub(/^[ \t]+/, \"\"); gsub(/[ \t]+/, \",\"); print }'" ;;
    2) echo "tr ',' ' '"
       echo "sed 's/,/ /g'" ;;
    3) echo "tr ',' '\t'"
       echo "sed 's/,/\t/g'" ;;
    4) echo "tr ' ' '\t'"
       echo "sed 's/ /\t/g'" ;;
    5) echo "sed -E 's/^[ \t]+//; s/[ \t]+/\r\n/g'"
       echo "awk '{ sub(/^[ \t]+/, \"\"); gsub(/[ \t]+/, \"\r\n\"); print }'" ;;
    6) echo "sed '/^\r\$/d; s/\$/\n\r/'"
       echo "awk '\$0 != \"\r\" { print \$0 \"\n\r\" }'" ;;
    esac
}

now() { date +%s%N; }
# Best wall time in seconds of `count` runs of a shell command; `prepare` runs
# untimed before each (removing the last output, so every run writes anew).
best_of() {
    local count=$1 command=$2 prepare=$3 best="" start elapsed
    for ((r = 0; r < count; r++)); do
        eval "$prepare"
        start=$(now)
        eval "$command"
        elapsed=$(($(now) - start))
        if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
    done
    awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }'
}
peak_kib() {  # option, input
    rm -f "$(output_of "$1")" "1sp_$2"
    answers "$2" "$1" >answers.txt
    /usr/bin/time -f %M -o rss.txt "$program" <answers.txt >/dev/null 2>&1
    cat rss.txt
}

# The program and the copy take turns, so that a slow spell of the machine
# falls on both; prints the best time of each.
best_beside_copy() {  # option
    local out best_ours="" best_copy="" r start elapsed
    out=$(output_of "$1")
    answers big.txt "$1" >answers.txt
    for ((r = 0; r < runs; r++)); do
        rm -f "$out" copy.txt
        start=$(now)
        run_answered
        elapsed=$(($(now) - start))
        if [ -z "$best_ours" ] || [ "$elapsed" -lt "$best_ours" ]; then best_ours=$elapsed; fi
        start=$(now)
        dd if=big.txt of=copy.txt bs=128k status=none
        elapsed=$(($(now) - start))
        if [ -z "$best_copy" ] || [ "$elapsed" -lt "$best_copy" ]; then best_copy=$elapsed; fi
    done
    rm -f "$out" copy.txt
    awk -v a="$best_ours" -v b="$best_copy" 'BEGIN { printf "%.3f %.3f\n", a / 1e9, b / 1e9 }'
}

printf 'Input: %d MiB of CR LF text; times in seconds, the best of %d runs (pipelines: %d).\n\n' \
    "$mebibytes" "$runs" "$pipeline_runs"
printf '| Option | Path | zorven | dd bs=128k | zorven/copy | best pipeline | pipeline/zorven | peak RSS 1 MiB / %d MiB |\n' "$mebibytes"
printf '|---|---|---|---|---|---|---|---|\n'
for option in 1 2 3 4 5 6; do
    out=$(output_of "$option")
    program=$(program_for "${paths[0]}")
    run_program "$option" big.txt
    mv "$out" widest.txt
    best_pipe="" best_time=""
    while IFS= read -r pipeline; do
        eval "LC_ALL=C $pipeline <big.txt >theirs.txt"
        if ! cmp -s widest.txt theirs.txt; then
            echo "option $option: output differs from: $pipeline" >&2
            continue
        fi
        t=$(best_of "$pipeline_runs" "LC_ALL=C $pipeline <big.txt >theirs.txt" "rm -f theirs.txt")
        if [ -z "$best_time" ] || awk -v a="$t" -v b="$best_time" 'BEGIN { exit !(a < b) }'; then
            best_time=$t best_pipe=$pipeline
        fi
    done < <(pipelines "$option")
    rm -f theirs.txt
    [ -n "$best_time" ] || { echo "option $option: no pipeline gives the same output" >&2; exit 1; }
    for path in "${paths[@]}"; do
        program=$(program_for "$path")
        run_program "$option" big.txt
        if ! cmp -s widest.txt "$out"; then  # every path gives the same bytes
            echo "option $option: the $(path_name "$path") path differs from the ${paths[0]} path" >&2
            exit 1
        fi
        read -r ours copy < <(best_beside_copy "$option")
        small_rss=$(peak_kib "$option" small.txt)
        big_rss=$(peak_kib "$option" big.txt)
        rm -f "$out" 1sp_small.txt
        # The pipeline goes through the environment, where awk leaves its \t alone.
        name=$best_pipe awk -v o="$option" -v p="$(path_name "$path")" -v ours="$ours" -v copy="$copy" \
            -v pipe="$best_time" -v s="$small_rss" -v b="$big_rss" 'BEGIN {
            printf "| %s | %s | %.3f | %.3f | %.2f | %.3f `%s` | %.1f | %.1f / %.1f MiB |\n",
                o, p, ours, copy, ours / copy, pipe, ENVIRON["name"], pipe / ours, s / 1024, b / 1024 }'
    done
    rm -f widest.txt
done
