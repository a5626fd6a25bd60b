#!/usr/bin/env bash
# Lays out a small demo area with *.msg bases, puts qlr beside its own
# qlr.ctl, and runs one rotation in copy mode and one in pack mode.
set -euo pipefail

binary=${1:-build/qlr}
root=$(pwd)/demo-run
rm -rf "$root"
mkdir -p "$root/bin" "$root/fido"
cp "$binary" "$root/bin/qlr"

# Writes `count` stored messages into a *.msg directory.
make_area() {
  local dir=$1 count=$2 i
  mkdir -p "$dir"
  for ((i = 1; i <= count; i++)); do
    printf 'demo message %d\r' "$i" > "$dir/$i.msg"
  done
}

write_control_file() {
  cat > "$root/bin/qlr.ctl" <<CTL
; quillor demo control file
@Define ROOT $root/fido
MaxMessages 5
Base #ROOT/netmail ROOT/old/netmail  ; 3 messages: lives
Base #ROOT/echo    ROOT/old/echo     ; 8 messages: rotated
Base #ROOT/local   ROOT/old/local    ; 12 messages: rotated
Arc.Extension tar
Arc.Add tar -cf @ArcName.tar -C @FileName .
CTL
}

make_area "$root/fido/netmail" 3
make_area "$root/fido/echo" 8
make_area "$root/fido/local" 12
write_control_file

echo "== qlr /c  (copy mode), from $root"
(cd "$root" && ./bin/qlr /c)

echo
echo "== the areas grow again; qlr /p  (pack mode: copy, then tar)"
make_area "$root/fido/echo" 9
make_area "$root/fido/local" 6
(cd "$root" && ./bin/qlr /p)

echo
echo "== resulting files under $root/fido"
(cd "$root/fido" && find . | sort)
