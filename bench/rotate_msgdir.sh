#!/usr/bin/env bash
# Copy-mode rotation of a *.msg base, the heaviest job of a nightly run,
# beside what a sysop would do by hand on the same disk: `cp -pR` of the
# directory, `sync -f` to make the copy durable, and `find -delete` of the
# message files. Each case runs REPEAT times in this one run; the table
# gives both medians and their ratio (qlr / baseline).
#
#   bash bench/rotate_msgdir.sh [path/to/qlr]
#   SIZES="10000 100000" REPEAT=3 BENCH_DIR=/var/tmp bash bench/rotate_msgdir.sh
set -euo pipefail

binary=$(realpath "${1:-build/qlr}")
sizes=${SIZES:-10000 100000}
repeat=${REPEAT:-3}
work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/qlr-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin"
cp "$binary" "$work/bin/qlr"
printf 'MaxMessages 1\r\nBase #%s %s\r\n' "$work/area" "$work/old" > "$work/bin/qlr.ctl"

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# A template base of N messages of 300 bytes, copied afresh before each run.
make_template() {
  local n=$1 i body
  rm -rf "$work/template"
  mkdir -p "$work/template"
  body=$(head -c 300 /dev/zero | tr '\0' 'x')
  for ((i = 1; i <= n; i++)); do printf '%s' "$body" > "$work/template/$i.msg"; done
}

fresh_area() {
  rm -rf "$work/area" "$work/old"
  cp -a "$work/template" "$work/area"
  mkdir -p "$work/old"
  sync
}

run_qlr() {
  fresh_area
  local start end
  start=$(now)
  "$work/bin/qlr" /c > "$work/out.txt"
  end=$(now)
  grep -q "copied to" "$work/out.txt" || { cat "$work/out.txt" >&2; exit 1; }
  echo "$end - $start" | bc
}

run_baseline() {
  fresh_area
  local start end
  start=$(now)
  cp -pR "$work/area" "$work/old/00000000"
  sync -f "$work/old/00000000"
  find "$work/area" -name '*.msg' -delete
  end=$(now)
  echo "$end - $start" | bc
}

printf '%-28s %10s %10s %7s\n' "case" "qlr s" "baseline s" "ratio"
for n in $sizes; do
  make_template "$n"
  q=()
  b=()
  for ((r = 0; r < repeat; r++)); do
    q+=("$(run_qlr)")
    b+=("$(run_baseline)")
  done
  qm=$(printf '%s\n' "${q[@]}" | median)
  bm=$(printf '%s\n' "${b[@]}" | median)
  printf '%-28s %10.2f %10.2f %7.2f\n' "rotate *.msg, $n files" "$qm" "$bm" "$(echo "$qm / $bm" | bc -l)"
done
