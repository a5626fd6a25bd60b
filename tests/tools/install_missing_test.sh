#!/usr/bin/env bash
# install_missing with stand-ins for dpkg-query and apt-get on PATH: a
# failed `apt-get update` is a warning only; a failed install fails.
#   install_missing_test.sh tools/install-missing.sh
set -uo pipefail
script=$1
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat > "$fake/dpkg-query" <<'SH'
#!/bin/sh
# Only "present" is installed.
for a; do last=$a; done
[ "$last" = present ] && printf 'install ok installed'
exit 0
SH
cat > "$fake/apt-get" <<'SH'
#!/bin/sh
echo "$*" >> "$FAKE_LOG"
[ "$1" = update ] && exit "$UPDATE_STATUS"
exit "$INSTALL_STATUS"
SH
chmod +x "$fake/dpkg-query" "$fake/apt-get"

failures=0
# update status, install status, packages, expected status, expected calls
while IFS='|' read -r update install packages want calls; do
  export FAKE_LOG="$fake/log" UPDATE_STATUS=$update INSTALL_STATUS=$install
  : > "$FAKE_LOG"
  PATH="$fake:$PATH" bash -c 'set -e; source "$1"; shift; install_missing "$@"' _ "$script" \
    $packages 2> "$fake/err"
  got=$?
  log=$(tr '\n' ';' < "$FAKE_LOG")
  if { [ "$want" = 0 ] && [ "$got" -ne 0 ]; } || { [ "$want" != 0 ] && [ "$got" -eq 0 ]; } ||
     [ "$log" != "$calls" ]; then
    echo "FAIL: update $update, install $install, '$packages': status $got, calls '$log'" >&2
    failures=$((failures + 1))
  fi
done <<'CASES'
100|0|present missing|0|update -qq;install -y -qq missing;
100|100|missing|1|update -qq;install -y -qq missing;
0|100|missing|1|update -qq;install -y -qq missing;
0|0|present|0|
CASES
exit $((failures > 0))
