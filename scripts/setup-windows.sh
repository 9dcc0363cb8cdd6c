#!/usr/bin/env bash
# Installs what the Windows builds need, when any of it is missing: the MinGW-w64 cross
# compilers with the posix thread model (std::thread and std::mutex need it), GoogleTest's
# sources to cross-build, and Wine to run the 64-bit tests.
set -euo pipefail

packages=(cmake ninja-build googletest
          gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix
          gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
          wine64)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
