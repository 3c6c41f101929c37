#!/usr/bin/env bash
# Installs, with apt-get, whatever a fresh Debian 12 machine lacks to build and test the project.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
    cmake make g++ clang clang-format libclang-rt-14-dev
    googletest libgtest-dev libbenchmark-dev zlib1g-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 fonts-wine fonts-liberation
    xvfb xauth xdotool imagemagick x11-utils liblnk-utils icoutils locales
    osslsigncode openssl python3 python3-jsonschema python3-yaml python3-pefile
    softhsm2 libengine-pkcs11-openssl
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}" >&2
if [[ $(id -u) -ne 0 ]]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
