#!/usr/bin/env bash
# cpack makes a Debian package holding the library, the settings editor and the headers, with
# its run-time dependencies worked out from the library.
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build_dir" && cpack -G DEB -B "$work" >/dev/null)
deb=$(ls "$work"/vantrel_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/lib/libvantrel.so.0 ./usr/bin/vantrel-reg ./usr/include/vantrel/vantrel.h \
            ./usr/include/vantrel/vantrel.hpp ./usr/lib/pkgconfig/vantrel.pc \
            ./usr/lib/cmake/vantrel/vantrelConfig.cmake ./usr/lib/libvantrel_trace.so.0 \
            ./usr/lib/pkgconfig/vantrel-trace.pc; do
  grep -qxF "$path" <<<"$contents" || { echo "missing from the package: $path"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libsqlite3 || { echo "no dependency on libsqlite3"; exit 1; }
echo "package $(basename "$deb") holds the library, the editor and the headers"
