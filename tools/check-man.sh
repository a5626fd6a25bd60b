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
  if [ "$clean" -eq 0 ]; then
    echo "check-man: $page is not clean" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "check-man: ${pages[*]} clean"
exit "$status"
