#!/usr/bin/env bash
# Builds the Debian package, installs it, rotates a small *.MSG base with
# the installed qlr started from another directory, checks the manual
# pages, then purges the package and checks that nothing of it is left.
# Needs root (dpkg -i); installs what it needs with apt-get. The machine is
# left as it was: a quillor package already installed stops the check
# before anything is touched.
#
#   bash tools/check-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

fail() {
  echo "check-package: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root (dpkg -i, /etc/quillor)"

# install_missing PKG...: installs what is missing; only a package that
# cannot be installed fails the run.
source tools/install-missing.sh
# dpkg-dev for dpkg-shlibdeps (the package's dependencies), man-db for
# man, groff and mandoc for the manual page lint.
install_missing cmake g++ make libgtest-dev dpkg-dev man-db groff mandoc

if dpkg-query -W -f='${Status}' quillor 2>/dev/null | grep -qv 'not-installed'; then
  fail "a quillor package is on this machine already; purge it first (dpkg --purge quillor)"
fi
for path in /etc/quillor /usr/lib/quillor /var/lib/quillor /usr/bin/qlr /usr/bin/qlrmsg; do
  if [ -e "$path" ] || [ -L "$path" ]; then fail "$path exists already; it would be lost by the purge"; fi
done

bash tools/check-man.sh

make package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb=build/quillor_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "$deb was not built"

# The package as built, before it is installed.
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no libc6 in Depends: $(dpkg-deb -f "$deb" Depends)"
control=$(mktemp -d)
work=$(mktemp -d)
installed=0
cleanup() {
  rm -rf "$control" "$work"
  if [ "$installed" -eq 1 ]; then dpkg --purge quillor >/dev/null || true; fi
}
trap cleanup EXIT
dpkg-deb -e "$deb" "$control"
[ "$(cat "$control/conffiles")" = /etc/quillor/qlr.ctl ] ||
  fail "conffiles lists: $(cat "$control/conffiles")"
listing=$(dpkg-deb -c "$deb")
for entry in './usr/bin/qlr -> ../lib/quillor/qlr' './usr/bin/qlrmsg -> ../lib/quillor/qlrmsg' \
             './usr/lib/quillor/qlr.ctl -> /etc/quillor/qlr.ctl' \
             './usr/lib/quillor/qlr.lck -> /var/lib/quillor/qlr.lck' \
             ./usr/share/doc/quillor/changelog.Debian.gz ./usr/share/doc/quillor/copyright \
             ./usr/share/doc/quillor/README.md ./usr/share/doc/quillor/examples/qlr.ctl \
             ./usr/share/doc/quillor/examples/quillor.cron \
             ./usr/share/doc/quillor/examples/quillor.service \
             ./usr/share/doc/quillor/examples/quillor.timer; do
  grep -qF -- "$entry" <<<"$listing" || fail "the package lacks $entry"
done
grep -q '^-.* root/root .* \./usr/lib/quillor/qlr$' <<<"$listing" || fail "the package lacks the program qlr"

dpkg -i "$deb"
installed=1

# Every man page installed, gzipped, and readable by man.
for page in qlr qlrmsg; do
  [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page: $(man -w "$page")"
  MANWIDTH=80 man -l "/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "^NAME" ||
    fail "man -l shows no NAME section for $page"
done
zcat /usr/share/doc/quillor/changelog.Debian.gz | head -1 | grep -q "^quillor ($version)" ||
  fail "changelog.Debian.gz does not start with version $version"

# A *.MSG base of three messages (a 190-byte header, then the text) and a
# configuration that rotates every base holding a message.
mkdir -p "$work/netmail" "$work/old" "$work/cwd"
for i in 1 2 3; do
  { head -c 190 /dev/zero; printf 'package check message %d\r' "$i"; } > "$work/netmail/$i.msg"
done
cp -a "$work/netmail" "$work/original"
cat > /etc/quillor/qlr.ctl <<CTL
; written by tools/check-package.sh
MaxMessages 0
Base #$work/netmail $work/old
CTL
# A control file in the current directory must not be the one read.
printf 'MaxMessages 0\nBase #%s/decoy %s/decoy-old\n' "$work" "$work" > "$work/cwd/qlr.ctl"

out=$(cd "$work/cwd" && qlr /c) || fail "qlr /c failed ($?): $out"
grep -qF "copied to [$work/old/00000000]" <<<"$out" || fail "qlr /c said: $out"
[ ! -e "$work/decoy" ] || fail "qlr read the control file of the current directory"
for i in 1 2 3; do
  cmp -s "$work/original/$i.msg" "$work/old/00000000/$i.msg" || fail "the copy lacks $i.msg"
done
[ -z "$(ls -A "$work/netmail")" ] || fail "the base is not empty: $(ls -A "$work/netmail")"
[ -f /var/lib/quillor/qlr.lck ] || fail "no run lock in /var/lib/quillor"

# The bin link is the one the shell finds; run from / as a scheduler does.
out=$(cd / && /usr/bin/qlr /c) || fail "second qlr /c failed ($?): $out"
grep -qF "only 0 messages" <<<"$out" || fail "second qlr /c said: $out"

# qlrmsg lists the rotated copy through its bin link.
[ "$(cd / && qlrmsg list "#$work/old/00000000" | wc -l)" -eq 3 ] || fail "qlrmsg list of the copy"

dpkg --purge quillor
installed=0
dpkg-query -W -f='${Status}' quillor 2>/dev/null | grep -qv 'not-installed' &&
  fail "dpkg still knows quillor: $(dpkg-query -W -f='${Status}' quillor)"
for path in /etc/quillor /usr/lib/quillor /var/lib/quillor /usr/bin/qlr /usr/bin/qlrmsg \
            /usr/share/doc/quillor /usr/share/man/man1/qlr.1.gz /usr/share/man/man1/qlrmsg.1.gz; do
  if [ -e "$path" ] || [ -L "$path" ]; then fail "$path is left after the purge"; fi
done
echo "check-package: $repo/$deb installs, rotates from another directory and purges clean"
