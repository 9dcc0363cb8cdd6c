#!/usr/bin/env bash
# Checks a Windows build of vantrel.dll: its export table holds exactly the 25 functions of
# the public interface under their plain C names (no "_name" or "name@N" forms), and it
# imports only from Windows' own DLLs (no MinGW runtime DLL has to ship beside it).
# Usage: scripts/check-windows-dll.sh path/to/vantrel.dll
set -euo pipefail

dll="$1"
objdump=""
for candidate in x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump objdump; do
  if command -v "$candidate" >/dev/null; then objdump="$candidate"; break; fi
done
[ -n "$objdump" ] || { echo "no objdump found" >&2; exit 2; }

# The 25 names, one per line; the Linux export test reads the same list.
expected="$(sort "$(dirname "$0")/../tests/exports.txt")"
allowed_imports="advapi32.dll kernel32.dll msvcrt.dll winmm.dll ntdll.dll user32.dll"

headers="$("$objdump" -p "$dll")"
# The name pointer table lists one "[ n] name" line per exported name.
exports="$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)"
imports="$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)"

status=0
if [ "$exports" != "$expected" ]; then
  echo "FAIL $dll: export table differs from the 25 functions:" >&2
  diff <(echo "$expected") <(echo "$exports") >&2 || true
  status=1
fi
for dll_name in $imports; do
  if ! tr ' ' '\n' <<<"$allowed_imports" | grep -qxF -- "$dll_name"; then
    echo "FAIL $dll: imports from $dll_name, which is not a Windows system DLL" >&2
    status=1
  fi
done
if [ "$status" -eq 0 ]; then
  echo "ok $dll: $(wc -l <<<"$exports") exports, imports: $(tr '\n' ' ' <<<"$imports")"
fi
exit "$status"
