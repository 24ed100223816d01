#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmark need,
# where missing; with no apt-get at all when nothing is.
#   scripts/install-deps.sh            for everything
#   scripts/install-deps.sh PART...    for those parts of scripts/test.sh
#                                      (release, sanitize, windows, arm64, fuzz) or bench
set -euo pipefail

asRoot=""
[ "$(id -u)" -ne 0 ] && asRoot="sudo"
updated=false
parts=("$@")

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

# need PART PACKAGE...: the packages a part needs ("all": every part needs
# them), installed when that part was named, or no part was.
wanted() { [ ${#parts[@]} -eq 0 ] || [ "$1" = all ] || [[ " ${parts[*]} " == *" $1 "* ]]; }
need() { if wanted "$1"; then install "${@:2}"; fi; }

need all cmake make g++ libgtest-dev libbenchmark-dev tmux
# The line editor (BSD licence), found with pkg-config.
need all libedit-dev pkg-config
# The locale sources from which a test makes a Latin-1 locale of its own.
need all locales
# The manual page check and the Debian package (run by the release tests),
# and the distribution's own checks of the package.
need release groff-base man-db dpkg-dev file lintian
# Memcheck, in the release tests.
need release valgrind
# The Windows build and its tests under Wine.
need windows g++-mingw-w64-x86-64-posix mingw-w64 wine64 wine
# Fuzzing.
need fuzz clang-14 libclang-rt-14-dev
# The benchmark's peak memory (GNU time).
need bench time
# The ARM64 build and its tests under emulation.
need arm64 g++-aarch64-linux-gnu qemu-user googletest
