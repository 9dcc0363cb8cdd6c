#!/usr/bin/env bash
# Formatting and static checks: every tracked C/C++ file is clang-formatted, and clang-tidy
# reports nothing on the checks .clang-tidy enables. Needs a configured build/default (for
# compile_commands.json). The Windows backend is checked by its own cross build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.c' '*.cpp' '*.h' '*.hpp' | xargs clang-format --dry-run -Werror
sources=$(git ls-files 'src/*.cpp' 'tools/*.cpp' | grep -v '/win32/')
# clang-tidy's clang may not know every option of the compiler that built the tree (GCC's TLS
# dialect, for one); it reads the commands without them.
commands=$(mktemp -d)
trap 'rm -rf "$commands"' EXIT
sed 's/ -mtls-dialect=gnu2//g' build/default/compile_commands.json > "$commands/compile_commands.json"
output=$(echo "$sources" | xargs -P2 -n6 clang-tidy -p "$commands" --quiet 2>/dev/null || true)
if grep -q "warning:\|error:" <<<"$output"; then
  echo "$output"
  echo "clang-tidy found the above"
  exit 1
fi
echo "format and clang-tidy clean"
