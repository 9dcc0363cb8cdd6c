#!/usr/bin/env bash
# Installs the Debian packages that building and testing vantrel needs, when any is missing.
set -euo pipefail

packages=(build-essential cmake ninja-build clang libsqlite3-dev sqlite3 libgtest-dev libgmock-dev
          libbenchmark-dev libspdlog-dev pkg-config  # spdlog: the benchmarks' comparison
          libclang-rt-14-dev valgrind util-linux)  # sanitizers, libFuzzer, memcheck, unshare
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
