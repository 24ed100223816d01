#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing.
set -euo pipefail

asRoot=""
[ "$(id -u)" -ne 0 ] && asRoot="sudo"
updated=false

# Installs those of the named packages that are not installed yet, without
# the recommended extras (graphics, sound, fonts) nothing here needs.
install() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if ! $updated; then
        $asRoot apt-get -o DPkg::Lock::Timeout=900 update -qq
        updated=true
    fi
    DEBIAN_FRONTEND=noninteractive $asRoot apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
        --no-install-recommends "${missing[@]}" >/dev/null
}

install cmake make g++ libgtest-dev libbenchmark-dev tmux
# The Windows build and its tests under Wine.
install g++-mingw-w64-x86-64-posix mingw-w64 wine64 wine
# The ARM64 build and its tests under emulation.
install g++-aarch64-linux-gnu qemu-user googletest
# The manual page check and the Debian package.
install groff-base man-db dpkg-dev file
# Fuzzing and memcheck.
install clang-14 libclang-rt-14-dev valgrind
