#!/usr/bin/env bash
# Builds the Debian packages, unpacks quillor-dev into a temporary prefix
# (dpkg-deb -x: the machine's package database is not touched), compiles
# every installed header on its own, builds examples/list_base in clean
# directories against that prefix once with CMake (find_package) and once
# with pkg-config, and runs both builds on the demo area's bases, whose
# listing must agree with qlrmsg list. Removes everything it made.
#
#   bash tools/check-dev-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

fail() {
  echo "check-dev-package: $*" >&2
  exit 1
}

# install_missing PKG...: installs what is missing; only a package that
# cannot be installed fails the run.
source tools/install-missing.sh
install_missing cmake g++ make libgtest-dev dpkg-dev pkgconf

make package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb=build/quillor-dev_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "$deb was not built"
[ -f "build/quillor_${version}_$(dpkg --print-architecture).deb" ] || fail "quillor was not built beside it"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The package as built: the public headers, libraries and both package
# descriptions, and none of the private headers.
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
libdir=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo)
libdir=${libdir%/}
for entry in ./usr/include/quillor/quillor.h ./usr/include/quillor/msgbase/open_base.h \
             ./usr/include/quillor/msgbase/message.h ./usr/include/quillor/msgbase/base_files.h \
             ./usr/include/quillor/msgbase/ftn_address.h ./usr/include/quillor/msgbase/ftn_date.h \
             "./$libdir/libqlr_formats.a" "./$libdir/libqlr_platform.a" \
             "./$libdir/cmake/quillor/quillorConfig.cmake" \
             "./$libdir/cmake/quillor/quillorConfigVersion.cmake" "./$libdir/pkgconfig/quillor.pc"; do
  grep -qxF -- "$entry" <<<"$listing" || fail "the package lacks $entry"
done
# The platform seam (platform.h), the file layer and the checkers' reader
# stay private: a public header that includes them again fails here.
for private in /msgbase/jam/ /msgbase/squish/ /msgbase/msgdir/ /msgbase/packet/ /app/ /tools/ \
               /platform/posix/ /platform/win32/ /platform/platform.h /util/files.h \
               /msgbase/checked_file.h '\.cc$' /usr/bin/ /usr/lib/quillor/; do
  if grep -q -- "$private" <<<"$listing"; then fail "the package holds private files: $private"; fi
done
[ "$(dpkg-deb -f "$deb" Package)" = quillor-dev ] || fail "package name $(dpkg-deb -f "$deb" Package)"

dpkg-deb -x "$deb" "$work/root"
prefix=$work/root/usr
include=$prefix/include

# Every installed header compiles on its own from the install tree: its
# includes resolve there, not in the source tree.
while IFS= read -r header; do
  name=${header#"$include/quillor/"}
  printf '#include "%s"\n' "$name" |
    g++ -std=c++20 -fsyntax-only -Wall -Wextra -I"$include/quillor" -I"$include" -x c++ - ||
    fail "$name does not compile on its own from the install tree"
done < <(find "$include/quillor" -name '*.h' | sort)

# The example, copied away from the tree, built both ways.
cp -r examples/list_base "$work/cmake-src"
cp -r examples/list_base "$work/pc-src"
cmake -S "$work/cmake-src" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null || fail "cmake could not configure the example"
cmake --build "$work/cmake-build" >/dev/null || fail "the example does not build with CMake"
grep -q -- "-isystem $include\|-I$include" "$work/cmake-build/CMakeFiles/list_base.dir/flags.make" ||
  fail "the CMake build of the example does not use the unpacked headers"
make -C "$work/pc-src" PKG_CONFIG="pkg-config --define-variable=prefix=$prefix" \
  PKG_CONFIG_PATH="$prefix/${libdir#usr/}/pkgconfig" >/dev/null ||
  fail "the example does not build with pkg-config"

# The demo area: a *.MSG directory that lived, and rotated JAM and Squish
# copies. Each build of the example lists what qlrmsg lists (number, From
# and Subject of its TAB-separated line).
(cd "$work" && bash "$repo/demo/run-demo.sh" "$repo/build") >/dev/null || fail "the demo run failed"
fido=$work/demo-run/fido
for spec in "#$fido/netmail" "!$fido/old/jam/00000000/local" "\$$fido/old/squish/00000000/chat"; do
  expected=$(build/qlrmsg list "$spec" | cut -f1,2,4)
  [ -n "$expected" ] || fail "qlrmsg lists nothing in $spec"
  for program in "$work/cmake-build/list_base" "$work/pc-src/list_base"; do
    out=$("$program" "$spec") || fail "$program $spec failed ($?)"
    [ "$out" = "$expected" ] || fail "$program $spec printed:
$out
instead of:
$expected"
  done
done
[ "$(printf '1\tDemo Sender\tdemo message 1')" = "$("$work/pc-src/list_base" "!$fido/old/jam/00000000/local" | head -1)" ] ||
  fail "the JAM copy's first line is not message 1 of Demo Sender"

# A missing base is refused and not created.
if "$work/cmake-build/list_base" "!$work/missing/base" 2>/dev/null; then fail "a missing base was listed"; fi
[ ! -e "$work/missing" ] || fail "listing a missing base created it"

echo "check-dev-package: $repo/$deb builds the example with CMake and pkg-config; it lists the demo bases"
