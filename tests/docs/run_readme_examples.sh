#!/usr/bin/env bash
# Builds and runs the C and C++ examples of the README against the built library, so the
# README stays true to the code.
source "$(dirname "$0")/../consumer/scratch.sh"
source_dir=$1
library=$2
awk -v dir="$work" '
  /^```(c|cpp)$/ { lang = substr($0, 4); n[lang]++; file = dir "/example" n[lang] "." lang; next }
  /^```/ { file = ""; next }
  file != "" { print > file }
' "$source_dir/README.md"
ls "$work"/example1.c "$work"/example1.cpp >/dev/null
libdir=$(dirname "$library")
cc -std=c99 -Wall -Wextra -Werror -I"$source_dir/include" "$work/example1.c" -L"$libdir" -lvantrel \
  -Wl,-rpath,"$libdir" -o "$work/example_c"
c++ -std=c++17 -Wall -Wextra -Werror -I"$source_dir/include" "$work/example1.cpp" -L"$libdir" \
  -lvantrel -Wl,-rpath,"$libdir" -o "$work/example_cpp"
"$work/example_c"
"$work/example_cpp"
grep -q "12 items in frame intro" "$work"/vantrel/example_c/proc1/app.log
grep -q "parsing 21" "$work"/vantrel/example_cpp/proc1/app.log
echo "README examples build, run and log"
