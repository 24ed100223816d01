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
# The line editor (BSD licence), found with pkg-config; the locale sources
# from which a test makes a Latin-1 locale of its own.
install libedit-dev pkg-config locales
# The Windows build and its tests under Wine.
install g++-mingw-w64-x86-64-posix mingw-w64 wine64 wine
# The manual page check and the Debian package.
install groff-base man-db dpkg-dev file
# The distribution's own checks of the package.
install lintian
# Fuzzing and memcheck.
install clang-14 libclang-rt-14-dev valgrind
