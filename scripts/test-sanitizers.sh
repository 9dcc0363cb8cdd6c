#!/usr/bin/env bash
# Runs the whole test suite under AddressSanitizer with UndefinedBehaviorSanitizer (leaks
# checked by LeakSanitizer) and under ThreadSanitizer, then the demo host under valgrind
# memcheck. Prints the time each step took. Usage: scripts/test-sanitizers.sh [asan] [tsan] [valgrind]
set -euo pipefail
cd "$(dirname "$0")/.."
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(asan tsan valgrind)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

timed() {
  local name="$1"
  shift
  local start=$SECONDS
  "$@"
  echo "== $name took $((SECONDS - start)) s"
}

suite() {
  local preset="$1"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
  ctest --preset "$preset" -j2
}

demo_under_valgrind() {
  cmake --preset default >/dev/null
  cmake --build --preset default -j2 --target vantrel_demo
  # The library writes beside its host, so the demo runs from a folder of its own, with its
  # own settings store and runtime folder.
  local scratch
  scratch="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-valgrind-XXXXXX")"
  mkdir -p "$scratch/config" "$scratch/runtime" "$scratch/bin"
  chmod 700 "$scratch/runtime"
  cp build/default/examples/vantrel_demo "$scratch/bin/"
  local status=0
  XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/runtime" \
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --track-fds=yes --quiet \
    "$scratch/bin/vantrel_demo" --frames 3 >/dev/null || status=$?
  rm -rf "$scratch"
  return "$status"
}

for step in "${steps[@]}"; do
  case "$step" in
    asan) timed "AddressSanitizer+UBSan suite" suite asan ;;
    tsan) timed "ThreadSanitizer suite" suite tsan ;;
    valgrind) timed "valgrind memcheck of the demo" demo_under_valgrind ;;
    *) echo "unknown step $step" >&2; exit 2 ;;
  esac
done
