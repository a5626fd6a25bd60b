#!/usr/bin/env bash
# quillor against the physical limits and reference tools of this machine.
#
#   bash bench/run.sh                  # the default sizes, < 10 min on 2 cores
#   JAM_MB=64 JAM_MSGS=20000 MSG_FILES=5000 PKT_MB=64 LIB_COUNTS="1000 10000" \
#     TOSS_COUNT=10000 SYNC_COUNT=500 REPEAT=3 bash bench/run.sh   # a quick look
#   CASES="7 8" bash bench/run.sh      # only the durable copies and the reflink case
#
# Cases (every one run once as a warm-up, then REPEAT times; medians):
#   1. copy-mode rotation of a JAM base        vs cp -p of its files + sync of them
#   2. rotation of a *.msg base (by links on one file system)
#                                              vs cp -pR + sync -f + find -delete
#                                              and cp -al + sync -f + find -delete
#   3. OpenBase + Count of a packet            vs cat FILE > /dev/null
#   4. library writes and reads per format     vs crashmail tossing the same
#      messages into a JAM and a *.msg area (it never syncs, so the
#      comparison is with quillor's writes without sync; durable writes
#      are shown on their own)
#   5. growth: time at the larger of LIB_COUNTS over the smaller, ideally
#      their quotient (linear)
#   6. peak RSS of each case (/usr/bin/time -f %M)
#   7. qlrmsg copy of the tosser's packet into a JAM, *.msg, Squish and
#      packet base, durable, as users run it
#                                              vs crashmail tossing that packet
#                                              (Squish and packet: vs its JAM time)
#   8. copy-mode rotation of the JAM base of case 1 on a loop-mounted XFS
#      image with reflink, and whether its copy shares the base's blocks
#                                              vs cp -p --reflink=always + sync
#      (only as root with loop devices; the table says why it was skipped)
# Ratio is always quillor's time over the reference's: below 1 quillor is
# faster. Rate rows (msg/s) give the ratio of the times all the same.
#
# Sizes: JAM_MB, JAM_MSGS, MSG_FILES, PKT_MB, LIB_COUNTS, TOSS_COUNT (the
# packet of cases 4 and 7), SYNC_COUNT; REPEAT (measured rounds after the
# warm-up, 3), ROTATE_REPEAT (the same for cases 1, 2 and 8, 1) and
# COPY_REPEAT (case 7, 1, without a warm-up round: the packet is in the
# page cache and the tools have run before); CASES (default all: "1 2 3 4
# 7 8", 4 includes 5); BENCH_DIR chooses the disk (default /var/tmp).
#
# Trap: on ext4 here, creating many files in a directory right after
# deleting many is up to 10 times slower for minutes. So nothing is deleted
# between runs: every old output is renamed into $work/trash, which is
# removed once, at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
# BIG=1: the sizes of the earlier runs (a gigabyte JAM and packet, 100,000
# message files, library runs up to 100,000), about 20 minutes on 2 cores.
if [ "${BIG:-0}" = 1 ]; then
  jam_mb=${JAM_MB:-1024} jam_msgs=${JAM_MSGS:-300000} msg_files=${MSG_FILES:-100000}
  pkt_mb=${PKT_MB:-1024} lib_counts=${LIB_COUNTS:-10000 100000}
else
  jam_mb=${JAM_MB:-256} jam_msgs=${JAM_MSGS:-75000} msg_files=${MSG_FILES:-10000}
  pkt_mb=${PKT_MB:-512} lib_counts=${LIB_COUNTS:-2000 20000}
fi
toss_count=${TOSS_COUNT:-100000}
# Durable writes run at about a hundred a second here, each format four
# times: 100 of them keep case 4 within a minute or two.
sync_count=${SYNC_COUNT:-$([ "${BIG:-0}" = 1 ] && echo 1000 || echo 100)}
repeat=${REPEAT:-3}
# The two rotations move a gigabyte and 100,000 files a run: one measured
# round after the warm-up keeps the whole benchmark under 10 minutes.
rotate_repeat=${ROTATE_REPEAT:-1}
copy_repeat=${COPY_REPEAT:-1}
cases=" ${CASES:-1 2 3 4 7 8} "
build=${BENCH_BUILD:-$root/build-bench}
want() { [[ $cases == *" $1 "* ]]; }

# --- what the benchmark needs ---
need=()
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
command -v crashmail > /dev/null || need+=(crashmail)
[ -x /usr/bin/time ] || need+=(time)
command -v bc > /dev/null || need+=(bc)
# Case 8 makes its own file system, which only root can mount.
if want 8 && [ "$(id -u)" = 0 ]; then
  command -v mkfs.xfs > /dev/null || need+=(xfsprogs)
  command -v filefrag > /dev/null || need+=(e2fsprogs)
fi
if [ ${#need[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" = 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get install -y "${need[@]}" > /dev/null
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQLR_BUILD_TESTS=OFF -DQLR_BENCH=ON \
  > /dev/null
cmake --build "$build" -j 2 --target qlr qlrmsg qlr_bench > /dev/null

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/qlr-bench.XXXXXX")
xfs_mnt=
# The trash holds up to millions of small files, whose removal takes
# minutes: it runs on in the background, after the table, at low priority.
cleanup() {
  if [ -n "$xfs_mnt" ] && mountpoint -q "$xfs_mnt"; then umount "$xfs_mnt"; fi
  echo "removing $work in the background" >&2
  nohup nice -n 19 ionice -c 3 rm -rf "$work" > /dev/null 2>&1 &
}
trap cleanup EXIT
mkdir -p "$work/trash" "$work/bin"
cp "$build/qlr" "$build/qlrmsg" "$work/bin/"
bench=$build/bench/qlr_bench
rows=()
export work

aside() {
  local p
  for p in "$@"; do
    [ -e "$p" ] && mv "$p" "$work/trash/$(basename "$p").$RANDOM$RANDOM"
  done
  return 0
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
max() { sort -g | tail -n 1; }
now() { date +%s.%N; }
ratio() { echo "scale=4; $1 / $2" | bc -l; }
row() { rows+=("$(printf '%s|%s|%s|%s' "$1" "$2" "$3" "$4")"); }
# took CASE: how long CASE took, with its data, on stderr (the budget of
# the default run is 10 minutes).
bench_start=$(now)
case_start=$bench_start
took() {
  echo "case $1: $(printf '%.0f' "$(echo "$(now) - $case_start" | bc)") s" >&2
  case_start=$(now)
}

# timed VAR_PREFIX cmd...: appends the wall time to ${prefix}_t and the
# peak RSS (KB) to ${prefix}_m.
timed() {
  local prefix=$1 start end
  shift
  start=$(now)
  # The steps are shell functions (exported): a child shell runs them, and
  # the RSS is the largest of its process tree, the tool's own.
  /usr/bin/time -f %M -o "$work/rss" bash -c "$*"
  end=$(now)
  eval "${prefix}_t+=(\"$(echo "$end - $start" | bc)\")"
  eval "${prefix}_m+=(\"$(tail -n 1 "$work/rss")\")"
}

# compare ROUNDS NAME SETUP QLR REFERENCE: SETUP before each run (untimed),
# a warm-up round (none when warmup=0) and ROUNDS measured ones; adds the
# time row and the RSS row.
warmup=1
compare() {
  local rounds=$1 name=$2 setup=$3 qcmd=$4 rcmd=$5 r
  q_t=() q_m=() r_t=() r_m=()
  # The order changes every round: whichever runs right after the other's
  # deletions creates its files in the trap described at the top.
  for ((r = 1 - warmup; r <= rounds; r++)); do
    if ((r % 2 == 0)); then
      $setup
      timed q $qcmd
      $setup
      timed r $rcmd
    else
      $setup
      timed r $rcmd
      $setup
      timed q $qcmd
    fi
    if [ "$r" = 0 ]; then q_t=() r_t=(); fi
  done
  local qm rm
  qm=$(printf '%s\n' "${q_t[@]}" | median)
  rm=$(printf '%s\n' "${r_t[@]}" | median)
  cmp_r=$rm cmp_r_rss=$(printf '%s\n' "${r_m[@]}" | max)
  row "$name [s]" "$(printf '%.3f' "$qm")" "$(printf '%.3f' "$rm")" "$(ratio "$qm" "$rm")"
  row "  peak RSS [KB]" "$(printf '%s\n' "${q_m[@]}" | max)" "$(printf '%s\n' "${r_m[@]}" | max)" \
    "$(ratio "$(printf '%s\n' "${q_m[@]}" | max)" "$(printf '%s\n' "${r_m[@]}" | max)")"
}

# --- 1. JAM rotation ---
# The message text makes up the size: header and index records take
# about 120 bytes a message. Case 8 rotates the same base on XFS.
jam_body=$(((jam_mb * 1048576) / jam_msgs - 120))
if want 1 || want 8; then
  mkdir -p "$work/jam-template"
  "$bench" make-jam "$work/jam-template/echo" "$jam_msgs" "$jam_body"
fi
jam_setup() {
  aside "$work/jam" "$work/jam-old" "$work/jam-ref"
  cp -a "$work/jam-template" "$work/jam"
  mkdir -p "$work/jam-old" "$work/jam-ref"
  sync
}
jam_qlr() {
  printf 'MaxMessages 1\r\nBase !%s %s\r\n' "$work/jam/echo" "$work/jam-old" > "$work/bin/qlr.ctl"
  "$work/bin/qlr" /c > "$work/out.txt"
  grep -q "copied to" "$work/out.txt" || { cat "$work/out.txt" >&2; exit 1; }
}
jam_ref() {
  cp -p "$work"/jam/echo.* "$work/jam-ref/"
  sync "$work"/jam-ref/echo.*
}
export -f jam_qlr jam_ref
if want 1; then
  compare "$rotate_repeat" "1 rotate JAM, $jam_mb MB, $jam_msgs msgs" jam_setup jam_qlr jam_ref
  aside "$work/jam" "$work/jam-old" "$work/jam-ref"
  took 1
fi

# --- 2. *.msg rotation ---
if want 2; then
  mkdir -p "$work/msg-template"
  python3 - "$work/msg-template" "$msg_files" << 'EOF'
import sys
body = b'x' * 300
for i in range(1, int(sys.argv[2]) + 1):
    with open(f'{sys.argv[1]}/{i}.msg', 'wb') as f:
        f.write(body)
EOF
  msg_setup() {
    aside "$work/area" "$work/msg-old"
    cp -a "$work/msg-template" "$work/area"
    mkdir -p "$work/msg-old"
    sync
  }
  msg_qlr() {
    printf 'MaxMessages 1\r\nBase #%s %s\r\n' "$work/area" "$work/msg-old" > "$work/bin/qlr.ctl"
    "$work/bin/qlr" /c > "$work/out.txt"
    grep -q "copied to" "$work/out.txt" || { cat "$work/out.txt" >&2; exit 1; }
  }
  msg_ref() {
    cp -pR "$work/area" "$work/msg-old/00000000"
    sync -f "$work/msg-old/00000000"
    find "$work/area" -name '*.msg' -delete
  }
  # The same work done by hand with links: no byte is copied either.
  msg_ref_links() {
    cp -al "$work/area" "$work/msg-old/00000000"
    sync -f "$work/msg-old/00000000"
    find "$work/area" -name '*.msg' -delete
  }
  export -f msg_qlr msg_ref msg_ref_links
  compare "$rotate_repeat" "2 rotate *.msg, $msg_files files" msg_setup msg_qlr msg_ref
  compare "$rotate_repeat" "2 rotation by links, vs cp -al" msg_setup msg_qlr msg_ref_links
  aside "$work/msg-template" "$work/area" "$work/msg-old"
  took 2
fi

# --- 3. packet count ---
if want 3; then
  mkdir -p "$work/pkt"
  python3 - "$work/pkt/big.pkt" "$pkt_mb" << 'EOF'
import sys
msg = b'\x02\x00' + b'\x00' * 32 + b'All\x00Sysop\x00bench\x00' + b'x' * 200 + b'\r\x00'
chunk = msg * 4000
with open(sys.argv[1], 'wb') as f:
    f.write(b'\x00' * 18 + b'\x02\x00' + b'\x00' * 38)
    for _ in range(int(sys.argv[2])):
        f.write(chunk)
    f.write(b'\x00\x00')
EOF
  pkt_setup() {
    printf 'MaxMessages 2147483647\r\nBase P%s %s\r\n' "$work/pkt/big" "$work/pkt-old" \
      > "$work/bin/qlr.ctl"
  }
  pkt_qlr() {
    "$work/bin/qlr" /c > "$work/out.txt"
    grep -q "let it live" "$work/out.txt" || { cat "$work/out.txt" >&2; exit 1; }
  }
  pkt_ref() { cat "$work/pkt/big.pkt" > /dev/null; }
  export -f pkt_qlr pkt_ref
  cat "$work/pkt/big.pkt" > /dev/null
  compare "$repeat" "3 count packet, $pkt_mb MB" pkt_setup pkt_qlr pkt_ref
  aside "$work/pkt"
  took 3
fi

# --- 4 and 5. the library per format, and the tosser ---
# lib NAME: the median real time (s) of one qlr_bench case over REPEAT runs
# after a warm-up; its peak RSS is left in $work/lib.rss.
lib() {
  local csv
  csv=$(QLR_BENCH_DIR="$work/lib" QLR_BENCH_COUNTS="$lib_counts $sync_count" \
    /usr/bin/time -f %M -o "$work/lib.rss" "$bench" --benchmark_filter="^$1/" \
    --benchmark_repetitions=$((repeat + 1)) --benchmark_format=csv 2> /dev/null)
  printf '%s\n' "$csv" | grep -q "^\"$1/" || { echo "qlr_bench ran no case $1" >&2; exit 1; }
  aside "$work/lib"
  # One line per repetition (then the aggregates): the first is the warm-up.
  printf '%s\n' "$csv" | grep "^\"$1/" | grep -v '_mean\|_median\|_stddev\|_cv' | tail -n +2 |
    cut -d, -f3 | awk '{ print $1 / 1000 }' | median
}
rate() { echo "scale=0; $1 / $2" | bc -l; }

# The tosser: one node whose two areas are the formats it shares with us.
toss_root=$work/toss
# toss_n messages a packet: the larger of LIB_COUNTS in case 4, TOSS_COUNT
# in case 7; the packets are "$work/AREA-N.pkt".
toss_n=$toss_count
# The tosser really stored them all: the area holds them, none went bad.
toss_check() {
  [ -e "$toss_root/crashmail.log" ] || return 0
  grep -q "Imported messages: *$toss_n " "$toss_root/crashmail.log" ||
    { cat "$toss_root/crashmail.log" >&2; exit 1; }
}
toss_setup() {
  toss_check
  aside "$toss_root"
  mkdir -p "$toss_root"/{inbound,outbound,temp,createpkt,packets,netmail,bad,echo,jam}
  sed -e "s|@ROOT@|$toss_root|g" -e 's|@AKA@|2:5020/1042.0|g' -e 's|@LINK@|2:5020/1.0|g' \
    -e '/^EXPORT/d' -e 's/^LOGLEVEL .*/LOGLEVEL 1/' \
    "$root/tests/e2e/interop/crashmail.prefs.in" > "$toss_root/crashmail.prefs"
  cp "$work/$toss_area-$toss_n.pkt" "$toss_root/inbound/0000beef.pkt"
}
toss() {
  (cd "$toss_root" && CMCONFIGFILE='' crashmail SETTINGS "$toss_root/crashmail.prefs" \
    TOSSFILE "$toss_root/inbound/0000beef.pkt" NOSECURITY > /dev/null)
}
export toss_root
export -f toss
declare -A tosser
small=$(printf '%s\n' $lib_counts | sort -n | head -n 1)
large=$(printf '%s\n' $lib_counts | sort -n | tail -n 1)
make_pkts() {
  for area in ECHO.JAM ECHO.MSG; do
    [ -e "$work/$area-$1.pkt" ] || "$bench" make-pkt "$work/$area-$1.pkt" "$1" "$area"
  done
}
if want 4; then
  toss_n=$large
  make_pkts "$toss_n"
  for area in ECHO.JAM ECHO.MSG; do
    toss_area=$area
    t_t=() t_m=()
    for ((r = 0; r <= repeat; r++)); do
      toss_setup
      timed t toss
      if [ "$r" = 0 ]; then t_t=(); fi
    done
    tosser[$area]=$(printf '%s\n' "${t_t[@]}" | median)
    tosser[$area.rss]=$(printf '%s\n' "${t_m[@]}" | max)
    toss_check
  done

  for format in JAM Squish MSG PKT; do
    declare -A t=()
    declare -A m=()
    for n in $lib_counts; do
      t[w$n]=$(lib "write/$format/$n/nosync")
      m[w$n]=$(tail -n 1 "$work/lib.rss")
      t[r$n]=$(lib "read/$format/$n")
      m[r$n]=$(tail -n 1 "$work/lib.rss")
    done
    ref=-
    case $format in
      JAM) ref=${tosser[ECHO.JAM]} ref_rss=${tosser[ECHO.JAM.rss]} ;;
      MSG) ref=${tosser[ECHO.MSG]} ref_rss=${tosser[ECHO.MSG.rss]} ;;
    esac
    if [ "$ref" != - ]; then
      row "4 $format write $large, no sync [msg/s] vs crashmail" "$(rate "$large" "${t[w$large]}")" \
        "$(rate "$large" "$ref")" "$(ratio "${t[w$large]}" "$ref")"
      row "  peak RSS [KB]" "${m[w$large]}" "$ref_rss" "$(ratio "${m[w$large]}" "$ref_rss")"
    else
      row "4 $format write $large, no sync [msg/s]" "$(rate "$large" "${t[w$large]}")" - -
      row "  peak RSS [KB]" "${m[w$large]}" - -
    fi
    row "4 $format read $large [msg/s]" "$(rate "$large" "${t[r$large]}")" - -
    row "  peak RSS [KB]" "${m[r$large]}" - -
    ts=$(lib "write/$format/$sync_count/sync")
    row "4 $format write $sync_count, durable [msg/s]" "$(rate "$sync_count" "$ts")" - -
    if [ "$small" != "$large" ]; then
      expect=$(ratio "$large" "$small")
      for op in w r; do
        grow=$(ratio "${t[$op$large]}" "${t[$op$small]}")
        row "5 $format $([ $op = w ] && echo write || echo read) growth $small to $large [x]" \
          "$(printf '%.2f' "$grow")" "$(printf '%.2f' "$expect")" "$(ratio "$grow" "$expect")"
        row "  peak RSS growth [KB]" "${m[$op$small]} to ${m[$op$large]}" - -
      done
    fi
  done
  # Case 7 tosses packets of another size.
  aside "$toss_root"
  took "4 and 5"
fi

# --- 7. qlrmsg copy, durable, against the tosser ---
# What a sysop runs: every batch is on stable storage before it counts,
# "copied K" at the end. The tosser tosses the same packet (it never
# flushes). It has no Squish or packet area, so those rows compare with
# its JAM time.
copy_setup() {
  aside "$work/copy"
  mkdir -p "$work/copy/jam" "$work/copy/squish" "$work/copy/msg"
  sync
}
# copy_to FORMAT AREA: qlrmsg copy of the packet of AREA into a new base.
copy_to() {
  local dest
  case $1 in
    JAM) dest="!$work/copy/jam/echo" ;;
    Squish) dest="\$$work/copy/squish/echo" ;;
    MSG) dest="#$work/copy/msg" ;;
    PKT) dest="P$work/copy/out" ;;
  esac
  "$work/bin/qlrmsg" copy "P$work/$2-$toss_count" "$dest" > "$work/copy.txt"
  grep -qx "copied $toss_count" "$work/copy.txt" || { cat "$work/copy.txt" >&2; exit 1; }
}
copy_jam_setup() {
  toss_area=ECHO.JAM
  copy_setup
  toss_setup
}
copy_msg_setup() {
  toss_area=ECHO.MSG
  copy_setup
  toss_setup
}
export toss_count
export -f copy_to
if want 7; then
  toss_n=$toss_count
  make_pkts "$toss_n"
  warmup=0
  for format in JAM MSG; do
    compare "$copy_repeat" "7 copy $toss_count durable, $format vs crashmail" \
      "copy_$(echo $format | tr A-Z a-z)_setup" "copy_to $format ECHO.$format" toss
    toss_check
    if [ $format = JAM ]; then toss_jam=$cmp_r toss_jam_rss=$cmp_r_rss; fi
  done
  for format in Squish PKT; do
    q_t=() q_m=()
    for ((r = 1; r <= copy_repeat; r++)); do
      copy_setup
      timed q copy_to $format ECHO.JAM
    done
    qm=$(printf '%s\n' "${q_t[@]}" | median)
    qr=$(printf '%s\n' "${q_m[@]}" | max)
    row "7 copy $toss_count durable, $format vs crashmail JAM [s]" "$(printf '%.3f' "$qm")" \
      "$(printf '%.3f' "$toss_jam")" "$(ratio "$qm" "$toss_jam")"
    row "  peak RSS [KB]" "$qr" "$toss_jam_rss" "$(ratio "$qr" "$toss_jam_rss")"
  done
  warmup=1
  aside "$work/copy" "$toss_root"
  took 7
fi

# --- 8. JAM rotation on a file system with shared extents ---
# The JAM base of case 1 on a loop-mounted XFS image made with reflink:
# the kernel copy that the rotation uses may share the base's blocks
# instead of copying them, like cp --reflink=always.
if want 8; then
  xfs_why=
  if [ "$(id -u)" != 0 ]; then
    xfs_why="not root"
  elif ! command -v mkfs.xfs > /dev/null || ! command -v filefrag > /dev/null; then
    xfs_why="no mkfs.xfs or filefrag"
  elif ! losetup -f > /dev/null 2>&1; then
    xfs_why="no free loop device"
  else
    # Room for the template, the base and two copies that share nothing.
    truncate -s $((4 * jam_mb + 512))M "$work/xfs.img"
    mkdir -p "$work/xfs"
    if ! mkfs.xfs -q -m reflink=1 "$work/xfs.img" > "$work/xfs.txt" 2>&1; then
      xfs_why="mkfs.xfs -m reflink=1 failed: $(head -n 1 "$work/xfs.txt")"
    elif ! mount -o loop "$work/xfs.img" "$work/xfs" > "$work/xfs.txt" 2>&1; then
      xfs_why="the image cannot be mounted: $(head -n 1 "$work/xfs.txt")"
    else
      xfs_mnt=$work/xfs
    fi
  fi
  if [ -n "$xfs_why" ]; then
    echo "case 8 skipped: $xfs_why" >&2
    row "8 rotate JAM on XFS, skipped: $xfs_why" - - -
  else
    export xfs_mnt
    # Four files a round, on a file system of their own: deleted, not
    # set aside, to keep the image small.
    xfs_setup() {
      rm -rf "$xfs_mnt/jam" "$xfs_mnt/jam-old" "$xfs_mnt/jam-ref"
      mkdir -p "$xfs_mnt/jam" "$xfs_mnt/jam-old" "$xfs_mnt/jam-ref"
      # A base of its own, sharing no block with anything.
      cp -p --reflink=never "$work"/jam-template/echo.* "$xfs_mnt/jam/"
      sync
    }
    xfs_qlr() {
      printf 'MaxMessages 1\r\nBase !%s %s\r\n' "$xfs_mnt/jam/echo" "$xfs_mnt/jam-old" \
        > "$work/bin/qlr.ctl"
      "$work/bin/qlr" /c > "$work/out.txt"
      grep -q "copied to" "$work/out.txt" || { cat "$work/out.txt" >&2; exit 1; }
    }
    xfs_ref() {
      cp -p --reflink=always "$xfs_mnt"/jam/echo.* "$xfs_mnt/jam-ref/"
      sync "$xfs_mnt"/jam-ref/echo.*
    }
    export -f xfs_qlr xfs_ref
    compare "$rotate_repeat" "8 rotate JAM on XFS with reflink, $jam_mb MB" xfs_setup xfs_qlr \
      xfs_ref
    # Does the copy hold the very blocks of the base? The rotation empties
    # the base, so the used space is the same before and after either way;
    # the physical extents of each file of the set tell (the empty .jlr has
    # none).
    extents() { filefrag -v "$1" | awk '$1 ~ /^[0-9]+:$/ { print $4, $5, $6 }'; }
    used_mb() { sync -f "$xfs_mnt" && df -B1M --output=used "$xfs_mnt" | tail -n 1 | tr -d ' '; }
    declare -A before=()
    xfs_setup
    for ext in jhr jdt jdx; do before[$ext]=$(extents "$xfs_mnt/jam/echo.$ext"); done
    xfs_qlr
    sync
    q_shared= q_copied=
    for ext in jhr jdt jdx; do
      after=$(extents "$xfs_mnt/jam-old/00000000/echo.$ext")
      if [ -n "${before[$ext]}" ] && [ "${before[$ext]}" = "$after" ]; then
        q_shared+=" $ext"
      else
        q_copied+=" $ext"
      fi
    done
    xfs_setup
    u0=$(used_mb)
    xfs_ref
    u1=$(used_mb)
    r_shared= r_copied=
    for ext in jhr jdt jdx; do
      if filefrag -v "$xfs_mnt/jam-ref/echo.$ext" | grep -q shared; then
        r_shared+=" $ext"
      else
        r_copied+=" $ext"
      fi
    done
    row "8 files whose copy holds the base's blocks" "${q_shared:- none}" "${r_shared:- none}" -
    row "8 files copied byte for byte" "${q_copied:- none}" "${r_copied:- none}" -
    row "8 space the reference copy took [MB]" - "$((u1 - u0))" -
    rm -rf "$xfs_mnt/jam" "$xfs_mnt/jam-old" "$xfs_mnt/jam-ref"
    umount "$xfs_mnt"
    xfs_mnt=
    aside "$work/xfs.img" "$work/xfs"
  fi
  took 8
fi
aside "$work/jam-template"

# --- the table ---
printf '\n%-52s | %16s | %16s | %6s\n' case quillor reference ratio
printf '%s\n' "$(printf '%.0s-' {1..100})"
for r in "${rows[@]}"; do
  IFS='|' read -r c q ref x <<< "$r"
  [ "$x" != - ] && x=$(printf '%.2f' "$x")
  printf '%-52s | %16s | %16s | %6s\n' "$c" "$q" "$ref" "$x"
done
echo "cases took $(printf '%.0f' "$(echo "$(now) - $bench_start" | bc)") s (the trash is removed after)"
echo "machine: $(nproc) cores, $(free -g | awk '/Mem:/ { print $2 }') GiB RAM," \
  "$(df -T "$work" | awk 'NR == 2 { print $2 }') on $(df "$work" | awk 'NR == 2 { print $1 }')"
