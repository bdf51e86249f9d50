#!/usr/bin/env bash
# desktop-file-validate has nothing to say about the desktop entry, not even a hint.
#   desktop_entry_valid.sh FILE        exit 77 (skipped) without desktop-file-validate
set -euo pipefail
command -v desktop-file-validate >/dev/null || { echo "desktop-file-validate is not installed"; exit 77; }
out=$(desktop-file-validate "$1" 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "$out"; exit 1; }
