#!/usr/bin/env bash
# Proves the byte order of the codec and of every format: cross-builds the
# unit suite for s390x (64-bit big-endian) and runs it under qemu-s390x.
#
#   bash tools/big-endian-tests.sh [gtest filter]
#
# Needs Debian's g++-s390x-linux-gnu, qemu-user and googletest (the
# GoogleTest sources, built here for the target). Without a filter the
# whole unit suite runs: it starts no other process, so all of it runs
# under a user-mode emulator. The end-to-end suite, which drives the real
# programs, stays with the host.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in s390x-linux-gnu-g++ qemu-s390x; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "big-endian-tests: $tool not found (Debian: apt-get install g++-s390x-linux-gnu qemu-user)" >&2
    exit 1
  fi
done
if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
  echo "big-endian-tests: /usr/src/googletest missing (Debian: apt-get install googletest)" >&2
  exit 1
fi

build=build-s390x
jobs=${JOBS:-2}
cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/tools/s390x.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQLR_GTEST_FROM_SOURCE=ON >/dev/null
cmake --build "$build" -j "$jobs" --target quillor_tests
# A wrong toolchain would quietly test the host's byte order again.
file -b "$build/tests/quillor_tests" | grep -q 'MSB.*S/390' || {
  echo "big-endian-tests: $build/tests/quillor_tests is not a big-endian s390x program" >&2
  exit 1
}

filter=${1:-*}
echo "big-endian-tests: the unit suite under qemu-s390x (filter: $filter; the end-to-end suite is not run here)"
qemu-s390x "$build/tests/quillor_tests" --gtest_brief=1 --gtest_filter="$filter"
echo "big-endian-tests: passed on s390x"
