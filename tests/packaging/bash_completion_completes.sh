#!/usr/bin/env bash
# The tool's completion loads in a plain bash and offers commands, options and values.
#   bash_completion_completes.sh SCRIPT
set -euo pipefail
script=$1
complete_line() {
    bash --norc --noprofile -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"
        _swb808ctl swb808ctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$script" "$@"
}
expect() {
    local want=$1; shift
    local got
    got=$(complete_line "$@")
    grep -qx -- "$want" <<<"$got" || { echo "'$*' does not offer '$want': $got"; exit 1; }
}
expect supply swb808ctl su
expect relays swb808ctl --json rel
expect 115200 swb808ctl --baud 11
expect toggle swb808ctl relay 3 t
expect set swb808ctl config s
expect --keep-relays swb808ctl config set --ke
expect --wait-input swb808ctl relay 2 on --wa
expect --count swb808ctl --port COM3 watch --c
