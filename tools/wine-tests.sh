#!/usr/bin/env bash
# Runs the unit tests and the end-to-end suite of the Windows build under
# Wine: the same tests as on Linux, against the .exe files.
#
#   bash tools/wine-tests.sh [extra gtest arguments, e.g. --gtest_filter=PackTest*]
#
# QLR_SKIP_BUILD=1 uses the .exe files already in build-mingw/ instead of
# running tools/cross-windows.sh first. WINEPREFIX defaults to a fresh prefix
# in build-mingw/wineprefix, made anew on every run so that nothing a
# previous run left in its temporary directory can matter.
set -euo pipefail
cd "$(dirname "$0")/.."

build="build-mingw"
if [ "${QLR_SKIP_BUILD:-0}" != 1 ]; then
  bash tools/cross-windows.sh
fi

for tool in wine wineboot winepath wineserver; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "wine-tests: $tool not found; install Wine (Debian: apt-get install wine wine64)" >&2
    exit 1
  fi
done
for exe in "$build/qlr.exe" "$build/tests/quillor_tests.exe" \
           "$build/tests/quillor_e2e_tests.exe" "$build/tests/qlr_fault_probe.exe"; do
  if [ ! -f "$exe" ]; then
    echo "wine-tests: $exe missing; run tools/cross-windows.sh first" >&2
    exit 1
  fi
done

# Quiet, headless Wine: no debug channels, no window, and no offer to
# install Mono or Gecko while the prefix is made.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$PWD/$build/wineprefix"
  rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"
# Stop this prefix's wine server, and with it any program left behind.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

started=$(date +%s)
if ! wineboot --init >"$build/wineboot.log" 2>&1; then
  cat "$build/wineboot.log" >&2
  echo "wine-tests: cannot set up the Wine prefix $WINEPREFIX" >&2
  exit 1
fi
wineserver -w
echo "wine-tests: prefix ready in $(($(date +%s) - started)) s ($WINEPREFIX)"

# The e2e suite starts the programs under test itself: give it their DOS
# paths, since the Linux paths recorded at build time mean nothing to Wine.
QLR_BINARY=$(winepath -w "$build/qlr.exe")
QLR_FAULT_PROBE=$(winepath -w "$build/tests/qlr_fault_probe.exe")
export QLR_BINARY QLR_FAULT_PROBE

passed=0
failed=0
skipped=0
status=0

# Runs one gtest program; prints the details of failed tests and gtest's
# closing summary, keeps the whole output in a log beside it.
run_suite() {
  local name=$1 exe=$2
  shift 2
  local log="$build/wine-$name.log"
  echo "== wine $exe"
  local rc=0
  # Wine's console output ends its lines in CR LF; the log keeps plain LF.
  timeout 900 wine "$exe" --gtest_color=no "$@" 2>&1 | tr -d '\r' >"$log" || rc=$?
  # Everything from "[ RUN ]" to "[ FAILED ]" of each failed test.
  awk '/^\[ RUN      \]/ { block = ""; inside = 1 }
       inside { block = block $0 "\n" }
       /^\[       OK \]|^\[  SKIPPED \]/ { inside = 0 }
       /^\[  FAILED  \] .*\([0-9]+ ms\)$/ { if (inside) printf "%s", block; inside = 0 }' "$log"
  sed -n '/^\[==========\] .* ran\./,$p' "$log"
  local p f s
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | tail -n 1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$log" | tail -n 1)
  s=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  skipped=$((skipped + ${s:-0}))
  if [ "$rc" -ne 0 ]; then
    status=1
    if [ -z "$p" ] && [ -z "$f" ]; then
      # No summary at all: the program crashed, hung or never started.
      tail -n 30 "$log"
      echo "wine-tests: $exe ended with exit code $rc before its summary (log: $log)" >&2
      failed=$((failed + 1))
    fi
  fi
}

run_suite unit "$build/tests/quillor_tests.exe" "$@"
run_suite e2e "$build/tests/quillor_e2e_tests.exe" "$@"

echo "wine: $passed passed, $failed failed, $skipped skipped"
if [ "$status" -ne 0 ] || [ "$failed" -ne 0 ] || [ "$passed" -eq 0 ]; then
  echo "wine-tests: FAILED (logs in $build/wine-unit.log and $build/wine-e2e.log)" >&2
  exit 1
fi
echo "wine-tests: total $(($(date +%s) - started)) s"
