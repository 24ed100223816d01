#!/usr/bin/env bash
# Builds the program and its tests for 64-bit ARM Linux with the cross
# compiler (build-arm64/) and runs every test under qemu-aarch64, user-mode
# emulation: the table tests and the differential test on each set of
# kernels (NEON and portable), and whole dialogues of the ARM program, which
# the tests start through the emulator. GoogleTest is built once from the
# distribution's sources with the same compiler. Installs nothing itself
# (scripts/install-deps.sh adds the cross compiler, qemu-user and googletest).
#
# Not run here: the valgrind check, the 4 GiB scale test (minutes under the
# emulator), the install test and the line editor, which the native build
# runs.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$top/build-arm64"
toolchain="$top/cmake/aarch64-linux-gnu.cmake"
jobs=$(nproc 2>/dev/null || echo 2)

for tool in aarch64-linux-gnu-g++ qemu-aarch64; do
    if ! command -v "$tool" >/dev/null; then
        echo "arm64 tests skipped: $tool is not installed"
        exit 0
    fi
done
if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
    echo "arm64 tests skipped: the googletest sources are not installed"
    exit 0
fi

gtest="$build/googletest"
config="$(find "$gtest/install" -name GTestConfig.cmake 2>/dev/null | head -n 1 || true)"
if [ -z "$config" ]; then
    echo "== googletest for arm64"
    cmake -S /usr/src/googletest -B "$gtest/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/install" >/dev/null
    cmake --build "$gtest/build" -j "$jobs" >/dev/null
    cmake --install "$gtest/build" >/dev/null
    config="$(find "$gtest/install" -name GTestConfig.cmake | head -n 1)"
fi

echo "== arm64 build"
# Without the line editor: the distribution packages libedit for ARM64 only
# under a second dpkg architecture, and the editor has nothing of the
# processor in it; the native build tests it.
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DZORVEN_TESTS=ON -DZORVEN_LINE_EDITOR=OFF -DGTest_DIR="$(dirname "$config")" >/dev/null
cmake --build "$build" -j "$jobs"
file "$build/zorven" | grep -q "ARM aarch64" || { echo "build-arm64/zorven is not an ARM64 program" >&2; exit 1; }

echo "== arm64 tests under qemu-aarch64"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs"
