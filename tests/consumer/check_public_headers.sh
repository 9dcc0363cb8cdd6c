#!/usr/bin/env bash
# The public headers compile as C99 and C++11/C++17 with every warning as an error, and a
# wrong printf format is caught at compile time.
source "$(dirname "$0")/scratch.sh"
source_dir=$1
inc=$source_dir/include
printf '#include <vantrel/vantrel.h>\nint main(void) { return logPrintfMgr_deviceDefault_fnameDefault("%%d\\n", 1) ? 0 : 1; }\n' > "$work/ok.c"
for cc in gcc clang; do
  $cc -std=c99 -Wall -Wextra -Werror -pedantic -I"$inc" -c "$work/ok.c" -o "$work/ok.o"
done
cp "$work/ok.c" "$work/ok.cpp"
for cxx in g++ clang++; do
  $cxx -std=c++11 -Wall -Wextra -Werror -pedantic -I"$inc" -c "$work/ok.cpp" -o "$work/ok.o"
done
printf '#include <vantrel/vantrel.hpp>\nint f() { VANTREL_FUNC("a.log"); VANTREL_TIMER(3); VANTREL_PRINTF("a.log", "%%s\\n", "x"); return 0; }\n' > "$work/hpp.cpp"
g++ -std=c++17 -Wall -Wextra -Werror -pedantic -I"$inc" -c "$work/hpp.cpp" -o "$work/hpp.o"
g++ -std=c++17 -Wall -Wextra -Werror -pedantic -DVANTREL_DISABLE -I"$inc" -c "$work/hpp.cpp" -o "$work/off.o"
! nm "$work/off.o" | grep -q logFuncBeginMgr || fail "VANTREL_DISABLE left calls in"
printf '#include <vantrel/vantrel.h>\nint main(void) { return logPrintfMgr_deviceDefault_fname("a.log", "%%s\\n", 42); }\n' > "$work/bad.c"
! gcc -std=c99 -Wall -Werror -I"$inc" -c "$work/bad.c" -o "$work/bad.o" 2>/dev/null ||
  fail "a wrong format was not caught"
echo "public headers check out"
