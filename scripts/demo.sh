#!/usr/bin/env bash
# Sets up, builds and runs the demo host.
#   scripts/demo.sh [--html] [--frames N]   the logging demo
#   scripts/demo.sh --trace [--frames N]    a program traced whole by the tracing add-on
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
if [ "${1:-}" = "--trace" ]; then
  shift
  cmake --build --preset default --target vantrel_trace_demo vantrel-reg
  exe=$PWD/build/default/examples/vantrel_trace_demo
  # Memory mode, as recommended for tracing: the trace is written once, at exit.
  build/default/tools/vantrel-reg add \
    "HKCU\\Software\\Osmirel Systems\\Kelvra\\${exe,,}\\proc1\\trace.log" \
    /v WriteImmediately /t REG_DWORD /d 0 /f >/dev/null
  "$exe" "$@"
  log=build/default/examples/vantrel/vantrel_trace_demo/proc1/trace.log
  echo "$log (first 60 lines):"
  head -n 60 "$log" | tr -d '\r'
  exit 0
fi
cmake --build --preset default --target vantrel_demo vantrel-reg
build/default/examples/vantrel_demo "$@"
