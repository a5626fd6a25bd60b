#!/usr/bin/env bash
# Times one copy-mode rotation of a *.msg base of N messages (default
# 20000), the heaviest job of a nightly run: one directory scan to count,
# then a durable copy of every file and the erase.
#
#   bash bench/rotate_msgdir.sh [N] [path/to/qlr]
set -euo pipefail

count=${1:-20000}
binary=$(realpath "${2:-build/qlr}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin" "$work/area"
cp "$binary" "$work/bin/qlr"
printf 'MaxMessages 1\r\nBase #%s %s\r\n' "$work/area" "$work/old" > "$work/bin/qlr.ctl"
body=$(head -c 300 /dev/zero | tr '\0' 'x')
for ((i = 1; i <= count; i++)); do printf '%s' "$body" > "$work/area/$i.msg"; done
sync

start=$(date +%s.%N)
"$work/bin/qlr" /c > "$work/out.txt"
end=$(date +%s.%N)
tail -c 200 "$work/out.txt" | tr -d '\r'
awk -v n="$count" -v a="$start" -v b="$end" 'BEGIN { printf "rotated %d messages in %.2f s\n", n, b - a }'
