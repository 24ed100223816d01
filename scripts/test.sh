#!/usr/bin/env bash
# Builds everything and runs every test: once as built, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== release build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVEN_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

echo "== windows build, tests under wine"
tests/windows/run-tests.sh
tests/arm64/run-tests.sh

echo "== fuzzing"
scripts/fuzz.sh
