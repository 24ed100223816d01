#!/usr/bin/env bash
# Builds and runs the tests: every part in turn, or the parts named.
#   scripts/test.sh              all of them
#   scripts/test.sh PART...      release, sanitize, windows, arm64, fuzz
# First installs what the parts need, where anything is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# The parts, in the order of a whole run; each is the function part_<name>.
parts=(release sanitize windows arm64 fuzz)

part_release() {
    echo "== release build"
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build -j "$jobs"
    ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"
}

part_sanitize() {
    echo "== sanitizer build"
    cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVEN_SANITIZE=ON >/dev/null
    cmake --build build-sanitize -j "$jobs"
    ctest --test-dir build-sanitize --output-on-failure --no-tests=error -j "$jobs"
}

part_windows() {
    echo "== windows build, tests under wine"
    tests/windows/run-tests.sh
}

part_arm64() {
    echo "== arm64 build, tests under qemu-aarch64"
    tests/arm64/run-tests.sh
}

part_fuzz() {
    echo "== fuzzing"
    scripts/fuzz.sh
}

[ $# -gt 0 ] || set -- "${parts[@]}"
for part in "$@"; do
    if ! declare -F "part_$part" >/dev/null; then
        echo "usage: scripts/test.sh [${parts[*]}]..." >&2
        exit 2
    fi
done
scripts/install-deps.sh "$@"
for part in "$@"; do
    "part_$part"
done
