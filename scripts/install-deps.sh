#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing.
set -euo pipefail

# The Windows build and its tests under Wine, without the recommended extras
# (graphics, sound, fonts) that a console program run headless does not need.
windowsPackages=(g++-mingw-w64-x86-64-posix mingw-w64 wine64 wine)
installed=$(dpkg-query -W -f='${Status}\n' "${windowsPackages[@]}" 2>/dev/null | grep -c "install ok installed" || true)
if [ "$installed" -ne ${#windowsPackages[@]} ]; then
    echo "Installing: ${windowsPackages[*]}"
    asRoot=""
    [ "$(id -u)" -ne 0 ] && asRoot="sudo"
    $asRoot apt-get -o DPkg::Lock::Timeout=900 update -qq
    DEBIAN_FRONTEND=noninteractive $asRoot apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
        --no-install-recommends "${windowsPackages[@]}" >/dev/null
fi

packages=(cmake make g++ libgtest-dev tmux)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
