#!/usr/bin/env bash
# cpack makes a Debian package holding the library, the settings editor and the headers, with
# its run-time dependencies worked out from the library.
source "$(dirname "$0")/scratch.sh"
build_dir=$1
(cd "$build_dir" && cpack -G DEB -B "$work" >/dev/null)
deb=$(ls "$work"/vantrel_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/lib/libvantrel.so.0 ./usr/bin/vantrel-reg ./usr/include/vantrel/vantrel.h \
            ./usr/include/vantrel/vantrel.hpp ./usr/lib/pkgconfig/vantrel.pc \
            ./usr/lib/cmake/vantrel/vantrelConfig.cmake ./usr/lib/libvantrel_trace.so.0 \
            ./usr/lib/pkgconfig/vantrel-trace.pc; do
  grep -qxF "$path" <<<"$contents" || fail "missing from the package: $path"
done
dpkg-deb -f "$deb" Depends | grep -q libsqlite3 || fail "no dependency on libsqlite3"
echo "package $(basename "$deb") holds the library, the editor and the headers"
