#!/usr/bin/env bash
# A long soak of the whole-program kill tests: qlr killed during rotations
# of every format, qlrmsg killed while it copies into every format. Each
# round runs every crash test with QLR_CRASH_KILLS=SCALE times the kills of
# the default suite; a failure is kept in the log and ends the soak with a
# non-zero exit code after the summary.
#
#   bash tools/crash-soak.sh COUNT [SCALE] [BUILD_DIR]
#   bash tools/crash-soak.sh 20 5        # 20 rounds, 5x the kills each
set -euo pipefail
cd "$(dirname "$0")/.."

count=${1:?usage: crash-soak.sh COUNT [SCALE] [BUILD_DIR]}
scale=${2:-1}
build=${3:-build}
filter='*FormatRotationCrashTest.*:*QlrmsgCopyCrashTest.*'

if [ ! -x "$build/tests/quillor_e2e_tests" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "${JOBS:-2}"
fi

log=$(mktemp "${TMPDIR:-/tmp}/crash-soak.XXXXXX.log")
failed=0
start=$(date +%s)
for ((round = 1; round <= count; round++)); do
  if QLR_CRASH_KILLS=$scale "$build/tests/quillor_e2e_tests" --gtest_filter="$filter" \
      >>"$log" 2>&1; then
    echo "round $round/$count: passed"
  else
    failed=$((failed + 1))
    echo "round $round/$count: FAILED (see $log)"
  fi
done
echo "crash soak: $count rounds, kills x$scale, $failed failed, $(($(date +%s) - start)) s; log $log"
[ "$failed" -eq 0 ]
