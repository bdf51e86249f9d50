#!/usr/bin/env bash
# Packs the build tree as a .deb and lets lintian judge it: no error, no warning.
#   lintian_clean.sh BUILD_DIR WORK_DIR        exit 77 (skipped) without lintian
set -euo pipefail
build=$1 work=$2
command -v lintian >/dev/null || { echo "lintian is not installed"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" ||
    { cat "$work/cpack.log"; exit 1; }
debs=("$work"/*.deb)
[ -f "${debs[0]}" ] || { echo "cpack made no .deb"; exit 1; }
# lintian warns when it runs as root; that line is about the test run, not the package.
lintian --fail-on error,warning --info "${debs[@]}" 2>&1 | grep -v 'running with root privileges' |
    tee "$work/lintian.log" || true
! grep -qE '^[EW]: ' "$work/lintian.log"
