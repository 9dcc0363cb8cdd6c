#!/usr/bin/env bash
# Installs the Debian packages that building and testing vantrel needs, when any is missing.
set -euo pipefail

packages=(build-essential cmake ninja-build clang libsqlite3-dev sqlite3 libgtest-dev libgmock-dev
          libbenchmark-dev libspdlog-dev pkg-config  # spdlog: the benchmarks' comparison
          libclang-rt-14-dev valgrind util-linux  # sanitizers, libFuzzer, memcheck, unshare
          file dpkg-dev  # cpack's Debian package with its worked-out dependencies
          git clang-format clang-tidy)  # scripts/lint.sh
"$(dirname "$0")/install-missing-packages.sh" "${packages[@]}"
