#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format makes of it
# with the committed .clang-format. Run from anywhere in the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z '*.cc' '*.h'
else
  find src tests bench fuzz \( -name '*.cc' -o -name '*.h' \) -print0
fi | xargs -0 clang-format --dry-run -Werror
echo "format: every C++ file is as clang-format leaves it"
