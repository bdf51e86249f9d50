#!/usr/bin/env bash
# man renders the page without a warning, with a NAME section that names the command.
#   man_page_renders.sh PAGE        exit 77 (skipped) without man
set -euo pipefail
page=$1
command -v man >/dev/null || { echo "man is not installed"; exit 77; }
name=$(basename "$page" .1)
err=$(mktemp)
trap 'rm -f "$err"' EXIT
text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$err")
if [ -s "$err" ]; then cat "$err"; exit 1; fi
grep -q '^NAME' <<<"$text" || { echo "no NAME section"; exit 1; }
grep -qE "^ +$name - " <<<"$text" || { echo "NAME does not start with '$name - '"; exit 1; }
