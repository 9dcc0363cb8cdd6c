#!/usr/bin/env bash
# vantrel-reg against its peer, Wine's reg: each tool builds the same tree with the same
# command lines (every value type, the default value, an empty key) and exports it; the other
# tool imports that file. Then both show the whole tree with `query /s`, which must agree
# line by line, and both export it, which must give the same bytes.
#   scripts/test-reg-peer.sh [path of vantrel-reg]
# Uses $WINEPREFIX when set (a throwaway one: keys are left in it), else a prefix of its own.
# KEEP_PEER=1 keeps the files it compared.
set -Eeuo pipefail
cd "$(dirname "$0")/.."
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wine" ] || scripts/setup-windows.sh
vantrel_reg=${1:-}
if [ -z "$vantrel_reg" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target vantrel-reg -j2 >/dev/null
  vantrel_reg=$PWD/build/default/tools/vantrel-reg
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-reg-peer-XXXXXX")"
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix="$work/wine"
  export WINEPREFIX="$own_prefix"
fi
cleanup() {
  [ -z "$own_prefix" ] || "$wineserver" -k 2>/dev/null || true
  [ -n "${KEEP_PEER:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "reg peer test: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
export WINEDEBUG=-all XDG_CONFIG_HOME="$work/config"
cd "$work"  # Wine's reg takes "/..." for a switch: files are named relative to here

vreg() { "$vantrel_reg" "$@" >/dev/null; }
wreg() { "$wine" reg "$@" >/dev/null; }
"$wine" reg query 'HKCU\Software' >/dev/null  # the prefix is made here, once
"$wineserver" -p10 2>/dev/null || true        # one server for every later call

root='HKCU\Software\vantrel peer'
# Values in name order: Wine's registry lists them so, vantrel's store in the order added.
make_tree() {
  local tool=$1 key=$2
  $tool add "$key" /ve /d 'the default' /f
  $tool add "$key" /v Bin /t REG_BINARY /d "00ff10$(printf '%02x' $(seq 0 40))" /f
  $tool add "$key" /v Dword /t REG_DWORD /d 0x12345678 /f
  $tool add "$key" /v Expand /t REG_EXPAND_SZ /d '%PATH%;C:\x' /f
  $tool add "$key" /v Multi /t REG_MULTI_SZ /d 'a\0b "c"\0d\e' /f
  $tool add "$key" /v 'Naïve ☺' /d 'Café 😀' /f
  # shellcheck disable=SC1003  # the backslash before the closing quote is data
  $tool add "$key" /v Quote /d 'He said "hi" in C:\dir\ to \\server\share\' /f
  $tool add "$key" /v Qword /t REG_QWORD /d 0x123456789abcdef0 /f
  $tool add "$key\\Empty" /f
}
make_tree vreg "$root\\made by vantrel-reg"
make_tree wreg "$root\\made by wine"
wreg delete "$root\\made by wine\\Empty" /ve /f  # Wine's `add KEY` also sets an empty default

vreg export "$root\\made by vantrel-reg" vantrel.reg
wreg export "$root\\made by wine" wine.reg
wreg import vantrel.reg
vreg import wine.reg

# Wine prints query output in the OEM code page, so lines with other than ASCII are left to
# the export comparison; so is REG_QWORD data, which Wine's query prints as "(null)".
comparable() {
  tr -d '\r' | LC_ALL=C grep -v '[^[:print:]]' |
    sed -E 's/^(    .*    REG_QWORD    ).*/\1(in the export)/'
}
"$vantrel_reg" query "$root" /s | comparable >vantrel-query.txt
"$wine" reg query "$root" /s | comparable >wine-query.txt
if ! diff -u wine-query.txt vantrel-query.txt; then
  echo "reg peer test: query /s differs (- Wine, + vantrel-reg)" >&2
  exit 1
fi
vreg export "$root" vantrel-all.reg
wreg export "$root" wine-all.reg
if ! cmp wine-all.reg vantrel-all.reg; then
  diff -u <(iconv -f UTF-16 -t UTF-8 wine-all.reg) <(iconv -f UTF-16 -t UTF-8 vantrel-all.reg) >&2 || true
  echo "reg peer test: the exports differ (- Wine, + vantrel-reg)" >&2
  exit 1
fi
echo "reg peer test: $(grep -c '^    ' vantrel-query.txt) values agree in query /s, exports identical"
