#!/usr/bin/env bash
# Lays out a small demo area with one base of each format (*.msg, JAM,
# Squish, packet), puts qlr beside its own qlr.ctl, and runs one rotation
# in copy mode and one in pack mode. The binary bases are filled with
# qlrmsg copy from a *.msg area.
set -euo pipefail

build=${1:-build}
root=$(pwd)/demo-run
rm -rf "$root"
mkdir -p "$root/bin" "$root/fido"
cp "$build/qlr" "$root/bin/qlr"
qlrmsg="$build/qlrmsg"

# A fixed-width text field: the text, then NUL bytes up to `width`.
field() { printf '%s' "$1"; head -c $(($2 - ${#1})) /dev/zero; }

# Writes `count` stored messages (190-byte header, then the text) into a
# *.msg directory, numbered from `first`.
make_area() {
  local dir=$1 count=$2 first=${3:-1} i
  mkdir -p "$dir"
  for ((i = first; i < first + count; i++)); do
    {
      field "Demo Sender" 36
      field "All" 36
      field "demo message $i" 72
      field "09 Dec 26  02:00:00" 20
      head -c 26 /dev/zero  # counters, addresses, dates, reply links, attributes
      printf 'This is demo message %d.\r' "$i"
    } > "$dir/$i.msg"
  done
}

write_control_file() {
  cat > "$root/bin/qlr.ctl" <<CTL
; quillor demo control file
@Define ROOT $root/fido
MaxMessages 5
Base #ROOT/netmail       ROOT/old/netmail  ; 3 messages: lives
Base #ROOT/echo          ROOT/old/echo     ; 8 messages: rotated
Base !ROOT/jam/local     ROOT/old/jam      ; 12 messages: rotated
Base \$ROOT/squish/chat  ROOT/old/squish   ; 7 messages: rotated
Base ROOT/in/demo.pkt    ROOT/old/pkt      ; 6 messages: rotated
Arc.Extension tar
Arc.Add tar -cf @ArcName.tar -C @FileName .
CTL
}

# Fills a binary base from a scratch *.msg area of `count` messages.
fill_base() {
  local spec=$1 count=$2
  rm -rf "$root/scratch"
  make_area "$root/scratch" "$count"
  "$qlrmsg" copy "#$root/scratch" "$spec" > /dev/null
  rm -rf "$root/scratch"
}

make_area "$root/fido/netmail" 3
make_area "$root/fido/echo" 8
fill_base "!$root/fido/jam/local" 12
fill_base "\$$root/fido/squish/chat" 7
fill_base "P$root/fido/in/demo" 6
write_control_file

echo "== qlr /c  (copy mode), from $root"
(cd "$root" && ./bin/qlr /c)

echo
echo "== the bases grow again; qlr /p  (pack mode: copy, then tar)"
make_area "$root/fido/echo" 9 9
fill_base "!$root/fido/jam/local" 6
(cd "$root" && ./bin/qlr /p)

echo
echo "== the JAM base's first rotated copy, read back with qlrmsg"
# sed reads to the end, so qlrmsg never writes into a closed pipe.
"$qlrmsg" list "!$root/fido/old/jam/00000000/local" | sed -n 1,3p

echo
echo "== resulting files under $root/fido"
(cd "$root/fido" && find . | sort)
