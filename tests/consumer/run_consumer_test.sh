#!/usr/bin/env bash
# Installs the built tree into a temporary prefix, builds the consumer project against it
# through the CMake package and through pkg-config, runs both, and checks the log they wrote.
source "$(dirname "$0")/scratch.sh"
build_dir=$1
source_dir=$2
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
libdir=$(ls -d "$work"/prefix/lib*/ | head -n 1)
export LD_LIBRARY_PATH=$libdir

cmake -S "$source_dir/tests/consumer" -B "$work/cmake-build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer_c"
"$work/cmake-build/consumer_cpp"
"$work/cmake-build/consumer_traced"

export PKG_CONFIG_PATH=$libdir/pkgconfig
mkdir -p "$work/pc"
for package in vantrel:consumer_c vantrel-trace:consumer_traced; do
  cc -std=c99 -Wall -Wextra -Werror -pedantic "$source_dir/tests/consumer/consumer.c" \
    $(pkg-config --cflags --libs "${package%:*}") -o "$work/pc/${package#*:}"
  "$work/pc/${package#*:}"
done

# Traced through vantrel::trace and through pkg-config: main is named in each trace.log.
for build in cmake-build pc; do
  trace=$(ls "$work/$build"/vantrel/consumer_traced/proc*/trace.log | head -n 1)
  grep -q '^main // tid:' "$trace" || fail "main not traced by name ($build):" "$(cat "$trace")"
done

# The C++ run threw out of a guarded scope: every "{" still has its "}" and the last entry
# stands at indentation 0.
log=$(ls "$work"/cmake-build/vantrel/consumer_cpp/proc*/consumer.log | head -n 1)
opens=$(grep -c '^ *{' "$log" || true)
closes=$(grep -c '^ *}' "$log" || true)  # grep -c fails on 0
[ "$opens" -eq 3 ] && [ "$closes" -eq 3 ] || fail "unbalanced: $opens { vs $closes }:" "$(cat "$log")"
grep -q $'^   caught\r$' "$log" || fail "caught entry not at level 1:" "$(cat "$log")"
echo "consumer builds and logs"
