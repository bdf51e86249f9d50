#!/usr/bin/env bash
# The service's unit as systemd reads it: no error and no warning (an unknown or misspelt key
# is only a warning to systemd, so any output fails). ExecStart points at the built daemon.
#   unit_verifies.sh UNIT DAEMON WORK_DIR        exit 77 (skipped) without systemd-analyze
set -euo pipefail
unit=$1 daemon=$2 work=$3
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed: skipped"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
sed "s|/usr/bin/swb808d|$daemon|" "$unit" >"$work/$(basename "$unit")"
# The manual page is checked by its own test; it is not installed here.
out=$(systemd-analyze verify --man=no "$work/$(basename "$unit")" 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "$out"; exit 1; }
