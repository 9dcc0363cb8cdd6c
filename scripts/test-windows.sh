#!/usr/bin/env bash
# Builds the Windows DLLs with MinGW-w64: the 32-bit vantrel.dll that ships, and the 64-bit
# one with the test suite. Checks both DLLs' export and import tables, then runs the 64-bit
# suite under Wine, in a Wine prefix of its own that is thrown away afterwards (the tests
# clear the settings tree of the registry they run against). The suite's end-to-end tests
# start host processes in the same prefix, so they share its registry and named mutexes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-windows.sh

build_32=build/windows-i686
build_64=build/windows-x86_64

# 32-bit programs cannot run on these machines, so the 32-bit build is the DLL alone.
cmake -S . -B "$build_32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DVANTREL_BUILD_TESTS=OFF
cmake --build "$build_32" -j2
scripts/check-windows-dll.sh "$build_32/vantrel.dll"

cmake -S . -B "$build_64" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
cmake --build "$build_64" -j2

prefix="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wine-XXXXXX")"
cleanup() {
  # Ends this prefix's Wine server (and so its processes) before the prefix goes.
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all
ctest --test-dir "$build_64" --output-on-failure -V
# The settings editor against Wine's reg, in the same throwaway prefix.
scripts/test-reg-peer.sh
