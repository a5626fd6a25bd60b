#!/usr/bin/env bash
# Counting a large packet: qlr opens it and finds every message boundary
# in one forward pass (a run whose limit is never reached), beside
# `cat FILE > /dev/null`, the read limit of the same disk. Both read the
# file from the page cache after a first warming read, REPEAT times each;
# the table gives both medians and the ratio (qlr / cat).
#
#   bash bench/count_packet.sh [path/to/qlr]
#   SIZE_MB=1024 REPEAT=3 BENCH_DIR=/var/tmp bash bench/count_packet.sh
set -euo pipefail

binary=$(realpath "${1:-build/qlr}")
size_mb=${SIZE_MB:-1024}
repeat=${REPEAT:-3}
work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/qlr-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin" "$work/in"
cp "$binary" "$work/bin/qlr"
printf 'MaxMessages 2147483647\r\nBase P%s %s\r\n' "$work/in/big" "$work/old" > "$work/bin/qlr.ctl"

# One packed message: type 2, 32 header bytes, three strings, a text.
message() {
  printf '\002\000'
  head -c 32 /dev/zero
  printf 'All\000Sysop\000bench\000'
  head -c 200 /dev/zero | tr '\0' 'x'
  printf '\r\000'
}
# A megabyte of messages, then the packet: header, messages, terminator.
for ((i = 0; i < 4000; i++)); do message; done > "$work/chunk"
{
  head -c 18 /dev/zero
  printf '\002\000'  # packet version 2
  head -c 38 /dev/zero
  for ((i = 0; i < size_mb; i++)); do cat "$work/chunk"; done
  printf '\000\000'
} > "$work/in/big.pkt"

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cat "$work/in/big.pkt" > /dev/null
q=()
c=()
for ((r = 0; r < repeat; r++)); do
  start=$(now)
  "$work/bin/qlr" /c > "$work/out.txt"
  q+=("$(echo "$(now) - $start" | bc)")
  grep -q "let it live" "$work/out.txt" || { cat "$work/out.txt" >&2; exit 1; }
  start=$(now)
  cat "$work/in/big.pkt" > /dev/null
  c+=("$(echo "$(now) - $start" | bc)")
done
qm=$(printf '%s\n' "${q[@]}" | median)
cm=$(printf '%s\n' "${c[@]}" | median)
printf '%-28s %10s %10s %7s\n' "case" "qlr s" "cat s" "ratio"
printf '%-28s %10.2f %10.2f %7.2f\n' "count packet, $size_mb MB" "$qm" "$cm" "$(echo "$qm / $cm" | bc -l)"
tr -d '\r' < "$work/out.txt" | tail -1
