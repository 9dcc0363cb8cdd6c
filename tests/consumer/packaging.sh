#!/usr/bin/env bash
# The packaging checks, one per ctest case: packaging.sh SOURCE_DIR BUILD_DIR CHECK, in
# a scratch folder with a settings store and runtime folder of its own.
set -euo pipefail
source_dir=$1 build_dir=$2 check=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
fail() { echo "$*"; exit 1; }
inc=$source_dir/include
warnings="-Wall -Wextra -Werror -pedantic"

case $check in
headers)  # C99 and C++11/17 with every warning an error; wrong formats caught; VANTREL_DISABLE
  printf '#include <vantrel/vantrel.h>\nint main(void) { return logPrintfMgr_deviceDefault_fnameDefault("%%d\\n", 1) ? 0 : 1; }\n' > "$work/ok.c"
  for c in "gcc -std=c99" "clang -std=c99" "g++ -x c++ -std=c++11" "clang++ -x c++ -std=c++11"; do
    $c $warnings -I"$inc" -c "$work/ok.c" -o "$work/ok.o"; done
  printf '#include <vantrel/vantrel.hpp>\nint f() { VANTREL_FUNC("a.log"); VANTREL_TIMER(3); VANTREL_PRINTF("a.log", "%%s\\n", "x"); return 0; }\n' > "$work/hpp.cpp"
  g++ -std=c++17 $warnings -I"$inc" -c "$work/hpp.cpp" -o "$work/on.o"
  g++ -std=c++17 $warnings -DVANTREL_DISABLE -I"$inc" -c "$work/hpp.cpp" -o "$work/off.o"
  nm "$work/on.o" | grep -q logFuncBeginMgr || fail "the macros make no calls"
  ! nm "$work/off.o" | grep -q logFuncBeginMgr || fail "VANTREL_DISABLE left calls in"
  printf '#include <vantrel/vantrel.h>\nint main(void) { return logPrintfMgr_deviceDefault_fname("a.log", "%%s\\n", 42); }\n' > "$work/bad.c"
  ! gcc -std=c99 -Wall -Werror -I"$inc" -c "$work/bad.c" -o "$work/bad.o" 2>/dev/null ||
    fail "a wrong format was not caught" ;;

consumer)  # the README's examples and a throwing C++ program, built against the installed tree
  # through its CMake package and through pkg-config, plain and traced
  awk -v dir="$work" '
    /^```(c|cpp)$/ { lang = substr($0, 4); n[lang]++; file = dir "/example" n[lang] "." lang; next }
    /^```/ { file = ""; next }
    file != "" { print > file }
  ' "$source_dir/README.md"
  cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
  libdir=$(ls -d "$work"/prefix/lib*/ | head -n 1)
  export LD_LIBRARY_PATH=$libdir PKG_CONFIG_PATH=$libdir/pkgconfig
  cmake -S "$source_dir/tests/consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DREADME_DIR="$work" >/dev/null
  cmake --build "$work/cmake"
  mkdir -p "$work/pc"
  for package in vantrel:example_c vantrel-trace:example_traced; do
    cc -std=c99 $warnings "$work/example1.c" $(pkg-config --cflags --libs "${package%:*}") \
      -o "$work/pc/${package#*:}"
  done
  for program in cmake/{example_c,example_cpp,consumer_cpp,example_traced} pc/example_{c,traced}; do
    "$work/$program"; done
  for build in cmake pc; do
    grep -q "12 items in frame intro" "$work/$build"/vantrel/example_c/proc1/app.log
    trace=$(ls "$work/$build"/vantrel/example_traced/proc*/trace.log | head -n 1)
    grep -q '^main // tid:' "$trace" || fail "main not traced by name ($build):" "$(cat "$trace")"
  done
  grep -q "parsing 21" "$work"/cmake/vantrel/example_cpp/proc1/app.log
  # The C++ run threw out of a guarded scope: every "{" still has its "}" and the entry after
  # the catch stands at level 1.
  log=$(ls "$work"/cmake/vantrel/consumer_cpp/proc*/consumer.log | head -n 1)
  [ "$(grep -c '^ *{' "$log")" -eq 3 ] && [ "$(grep -c '^ *}' "$log")" -eq 3 ] ||
    fail "unbalanced:" "$(cat "$log")"
  grep -q $'^   caught\r$' "$log" || fail "caught entry not at level 1:" "$(cat "$log")" ;;

deb)  # the library, the editor, the headers, and a dependency worked out from the library
  (cd "$build_dir" && cpack -G DEB -B "$work" >/dev/null)
  deb=$(ls "$work"/vantrel_*.deb)
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for path in bin/vantrel-reg include/vantrel/vantrel.{h,hpp} lib/cmake/vantrel/vantrelConfig.cmake \
      lib/{libvantrel.so.0,libvantrel_trace.so.0,pkgconfig/vantrel.pc,pkgconfig/vantrel-trace.pc}; do
    grep -qxF "./usr/$path" <<<"$contents" || fail "missing from the package: $path"
  done
  dpkg-deb -f "$deb" Depends | grep -q libsqlite3 || fail "no dependency on libsqlite3" ;;

*) fail "unknown check $check" ;;
esac
echo "$check checks out"
