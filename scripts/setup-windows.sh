#!/usr/bin/env bash
# Installs what the Windows builds need, when any of it is missing: the MinGW-w64 cross
# compilers with the posix thread model (std::thread and std::mutex need it), GoogleTest's
# sources to cross-build, and Wine to run the 64-bit tests.
set -euo pipefail

packages=(cmake ninja-build googletest
          gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix
          gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
          wine64)
"$(dirname "$0")/install-missing-packages.sh" --no-install-recommends "${packages[@]}"
