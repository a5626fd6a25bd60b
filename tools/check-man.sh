#!/usr/bin/env bash
# Lints the manual pages with groff (all warnings) and mandoc; any message
# from either fails, as does a linter that is missing.
#
#   bash tools/check-man.sh [page.1 ...]     (default: man/*.1)
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in groff mandoc; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "check-man: $tool not found (Debian: apt-get install groff mandoc)" >&2
    exit 1
  fi
done

pages=("$@")
[ "${#pages[@]}" -gt 0 ] || pages=(man/*.1)

status=0
for page in "${pages[@]}"; do
  clean=1
  # groff -z formats without output, so only its warnings are printed.
  for linter in "groff -man -ww -z" "mandoc -Tlint"; do
    # shellcheck disable=SC2086 # the linter's words split on purpose
    if ! out=$($linter "$page" 2>&1) || [ -n "$out" ]; then
      [ -z "$out" ] || printf '%s\n' "$out" >&2
      clean=0
    fi
  done
  # A page with a COMMANDS section: each command of the SYNOPSIS (".B prog
  # word") starts a line of the formatted synopsis and is the tag of an
  # entry of COMMANDS. The linters accept a missing .br or .TP, which runs
  # a command into the one before it.
  if grep -q '^\.SH COMMANDS' "$page"; then
    text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
    synopsis=$(sed -n '/^SYNOPSIS$/,/^[A-Z]/p' <<<"$text")
    commands=$(sed -n '/^COMMANDS$/,/^[A-Z][A-Z ]*$/p' <<<"$text" | sed '1d')
    while read -r _ program word; do
      word=${word//\\-/-}
      if ! grep -qxE "       $program $word( .*)?" <<<"$synopsis"; then
        echo "$page: the SYNOPSIS runs $program $word into another line" >&2
        clean=0
      fi
      # A tag: its body follows at the entry indent, on the next line or
      # (a short tag) on its own line; running text continues at the tag's.
      if ! awk -v w="$word" '
          tag && /^              [^ ]/ { found = 1 }
          { tag = 0 }
          index($0, "       " w) == 1 && substr($0, 8 + length(w), 1) ~ /^ ?$/ {
            tag = 1
            gap = substr($0, 8 + length(w), 7 - length(w))
            if (length(w) < 7 && gap ~ /^ *$/ && substr($0, 15, 1) ~ /[^ ]/) found = 1
          }
          END { exit !found }' <<<"$commands"; then
        echo "$page: COMMANDS has no entry tagged $word" >&2
        clean=0
      fi
    done < <(sed -n '/^\.SH SYNOPSIS/,/^\.SH/p' "$page" | grep -E '^\.B [^ ]+ [^ ]+$')
  fi
  if [ "$clean" -eq 0 ]; then
    echo "check-man: $page is not clean" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "check-man: ${pages[*]} clean"
exit "$status"
