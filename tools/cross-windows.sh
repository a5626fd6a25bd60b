#!/usr/bin/env bash
# Cross-compiles quillor and its test programs for 64-bit Windows into
# build-mingw/ (stand-alone .exe files, no MinGW runtime DLLs needed).
#
#   bash tools/cross-windows.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null 2>&1; then
  echo "cross-windows: $compiler not found; install the MinGW-w64 cross compiler" \
       "(Debian: apt-get install g++-mingw-w64-x86-64-posix)" >&2
  exit 1
fi
if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
  echo "cross-windows: /usr/src/googletest missing; install googletest" \
       "(Debian: apt-get install googletest)" >&2
  exit 1
fi

build=build-mingw
jobs=${JOBS:-2}
cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/tools/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQLR_GTEST_FROM_SOURCE=ON \
  "$@"
cmake --build "$build" -j "$jobs" \
  --target qlr quillor_tests quillor_e2e_tests qlr_fault_probe

# Only DLLs that ship with Windows may be imported.
status=0
for exe in "$build/qlr.exe" "$build/tests/quillor_tests.exe" \
           "$build/tests/quillor_e2e_tests.exe" "$build/tests/qlr_fault_probe.exe"; do
  if [ ! -f "$exe" ]; then
    echo "cross-windows: $exe was not built" >&2
    status=1
    continue
  fi
  foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
            grep -viE '^(kernel32|msvcrt|user32|advapi32|ws2_32|shell32|ole32|ucrtbase|api-ms-win-.*)\.dll$' || true)
  if [ -n "$foreign" ]; then
    echo "cross-windows: $exe needs non-system DLLs: $foreign" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "cross-windows: built $(ls "$build"/qlr.exe "$build"/tests/*.exe | tr '\n' ' ')"
exit "$status"
