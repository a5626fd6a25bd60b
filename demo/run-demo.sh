#!/usr/bin/env bash
# Starts the freshly built qlr (the rotation demo grows with the tool).
set -euo pipefail
"${1:-build/qlr}" /c || true
