#!/usr/bin/env bash
# Builds the Windows programs with the cross build (tools/cross-windows.sh,
# build-mingw/) and packs build-mingw/quillor-VERSION-win64.zip: qlr.exe,
# qlrmsg.exe (stripped), an example qlr.ctl with DOS paths and
# README-windows.txt, the text files with CR LF line ends.
#
#   bash tools/windows-zip.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build="build-mingw"
if [ "${QLR_SKIP_BUILD:-0}" != 1 ]; then
  bash tools/cross-windows.sh
  cmake --build "$build" -j "${JOBS:-2}" --target qlrmsg
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if [ -z "$version" ]; then
  echo "windows-zip: no project version in $build/CMakeCache.txt" >&2
  exit 1
fi
for exe in qlr.exe qlrmsg.exe; do
  if [ ! -f "$build/$exe" ]; then
    echo "windows-zip: $build/$exe was not built" >&2
    exit 1
  fi
done

zip_name="quillor-$version-win64.zip"
stage="$build/zip-stage"
rm -rf "${stage:?}" "${build:?}/$zip_name"
mkdir -p "$stage"
for exe in qlr.exe qlrmsg.exe; do
  x86_64-w64-mingw32-strip -o "$stage/$exe" "$build/$exe"
done
# CR LF for Notepad and for the tools of the platform.
to_crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1" > "$2"; }
to_crlf packaging/windows/qlr.ctl "$stage/qlr.ctl"
sed "s/@VERSION@/$version/" packaging/windows/README-windows.txt > "$stage/README.tmp"
to_crlf "$stage/README.tmp" "$stage/README-windows.txt"
rm "$stage/README.tmp"

# -X: no Unix extra fields; the entries lie at the top of the zip, to be
# unpacked into the directory qlr.exe will live in.
if command -v zip >/dev/null 2>&1; then
  (cd "$stage" && zip -X -q "../$zip_name" qlr.exe qlrmsg.exe qlr.ctl README-windows.txt)
else
  (cd "$stage" && cmake -E tar cf "../$zip_name" --format=zip \
     qlr.exe qlrmsg.exe qlr.ctl README-windows.txt)
fi
rm -rf "$stage"
echo "windows-zip: built $build/$zip_name"
