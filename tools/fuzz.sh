#!/usr/bin/env bash
# Builds every fuzz harness with clang, libFuzzer, ASan and UBSan in
# build-fuzz/ and runs each for SECONDS, one after another (or JOBS at a
# time), seeded from fuzz/corpus/<harness>/.
#
#   bash tools/fuzz.sh SECONDS [HARNESS...]
#
# New inputs libFuzzer finds go to build-fuzz/corpus/<harness>/ (kept
# between runs, never into the source tree); crashes to
# build-fuzz/crashes/<harness>/; each run's log, whose last lines hold
# the -print_final_stats numbers (cov:, ft:), to build-fuzz/logs/.
# Environment: JOBS (default 1) harnesses at once, FUZZ_ARGS extra
# libFuzzer options, CXX the clang to use (default clang++), RSS_LIMIT_MB
# (default 2048) the memory a run may use, MALLOC_LIMIT_MB (default the
# RSS limit) the largest single allocation. A small MALLOC_LIMIT_MB (say
# 32) reports every reader that reserves what a count or length read from
# the input promises before checking it against the input's size.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: tools/fuzz.sh SECONDS [HARNESS...]" >&2
  exit 2
fi
seconds=$1
shift
build=build-fuzz
# Every fuzz/NAME_harness.cc is the harness NAME.
all=()
for f in fuzz/*_harness.cc; do
  name=${f#fuzz/}
  all+=("${name%_harness.cc}")
done
if [ $# -gt 0 ]; then harnesses=("$@"); else harnesses=("${all[@]}"); fi

cxx=${CXX:-clang++}
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "fuzz: $cxx not found (Debian: apt-get install clang libclang-rt-14-dev)" >&2
  exit 1
fi
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQLR_FUZZ=ON >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=("fuzz_$h"); done
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"

# Leaks are findings too; a slow input is one after 10 s.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
rss_limit=${RSS_LIMIT_MB:-2048}
malloc_limit=${MALLOC_LIMIT_MB:-$rss_limit}
for limit in "$rss_limit" "$malloc_limit"; do
  if ! [[ "$limit" =~ ^[1-9][0-9]*$ ]]; then
    echo "fuzz: RSS_LIMIT_MB and MALLOC_LIMIT_MB are numbers of MiB" >&2
    exit 2
  fi
done
mkdir -p "$build/logs"
run_one() {
  local h=$1
  local corpus="$build/corpus/$h" crashes="$build/crashes/$h/"
  mkdir -p "$corpus" "$crashes"
  # shellcheck disable=SC2086
  "$build/fuzz/fuzz_$h" "$corpus" "fuzz/corpus/$h" -max_total_time="$seconds" \
    -print_final_stats=1 -timeout=10 -rss_limit_mb="$rss_limit" \
    -malloc_limit_mb="$malloc_limit" -max_len=16384 \
    -artifact_prefix="$crashes" ${FUZZ_ARGS:-} >"$build/logs/$h.log" 2>&1
}
jobs=${JOBS:-1}
failed=()
pids=()
names=()
wait_one() {
  local pid=${pids[0]} name=${names[0]}
  pids=("${pids[@]:1}")
  names=("${names[@]:1}")
  if wait "$pid"; then
    echo "fuzz: $name clean: $(grep -E '^#[0-9]+.*DONE|cov:' "$build/logs/$name.log" | tail -1)"
  else
    echo "fuzz: $name FOUND A FAULT, see $build/logs/$name.log and $build/crashes/$name/"
    failed+=("$name")
  fi
}
for h in "${harnesses[@]}"; do
  run_one "$h" &
  pids+=("$!")
  names+=("$h")
  if [ "${#pids[@]}" -ge "$jobs" ]; then wait_one; fi
done
while [ "${#pids[@]}" -gt 0 ]; do wait_one; done
for h in "${harnesses[@]}"; do
  echo "== $h: $(grep -E '^stat::|cov:' "$build/logs/$h.log" | grep -E 'stat::number_of_executed_units|DONE' | tr '\n' ' ')"
done
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: faults in: ${failed[*]}" >&2
  exit 1
fi
