#!/usr/bin/env bash
# Installs on Debian 12 what is missing of the given packages, by default of everything that
# building and testing Kavit needs. Needs root, or sudo.
#
#   scripts/setup-debian.sh [PACKAGE...]
set -euo pipefail

packages=("$@")
if [ ${#packages[@]} -eq 0 ]; then
    packages=(
        cmake ninja-build g++ clang libclang-rt-14-dev clang-format
        googletest libgtest-dev libbenchmark-dev
        g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 mingw-w64-tools
        # test-signing the 64-bit driver: a certificate of the build's own, and the signature
        openssl osslsigncode
        # wine32 runs the 32-bit program, the primary target, beside the 64-bit one.
        wine wine64 wine32:i386 fonts-wine xvfb xdotool imagemagick python3
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: everything is installed"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root or install sudo" >&2; exit 1; }
    sudo=sudo
fi
echo "setup: installing ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
