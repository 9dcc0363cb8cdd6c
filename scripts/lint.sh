#!/usr/bin/env bash
# Formatting and static checks: every tracked C/C++ file is clang-formatted, and clang-tidy
# reports nothing on the checks .clang-tidy enables. Needs a configured build/default (for
# compile_commands.json). The Windows backend is checked by its own cross build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.c' '*.cpp' '*.h' '*.hpp' | xargs clang-format --dry-run -Werror
sources=$(git ls-files 'src/*.cpp' 'tools/*.cpp' | grep -v '/win32/')
output=$(echo "$sources" | xargs -P2 -n6 clang-tidy -p build/default --quiet 2>/dev/null || true)
if grep -q "warning:\|error:" <<<"$output"; then
  echo "$output"
  echo "clang-tidy found the above"
  exit 1
fi
echo "format and clang-tidy clean"
