# bash completion for swb808ctl

_swb808ctl() {
    local cur prev words cword
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    }
    local commands="scan info relay relays inputs supply watch config reset flash"
    local globals="--port --baud --json --quiet -q --verbose -v --help -h --version -V"
    local rates="auto 300 600 1200 2400 4800 9600 14400 19200 28800 38400 57600 76800 115200 230400"

    case $prev in
        --port)
            local ports="COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 COM10 COM11 COM12 COM13 COM14 COM15 COM16"
            COMPREPLY=($(compgen -W "$ports" -- "$cur") $(compgen -f -- "$cur"))
            return ;;
        --baud)
            COMPREPLY=($(compgen -W "$rates" -- "$cur"))
            return ;;
        --keep-relays)
            COMPREPLY=($(compgen -W "on off" -- "$cur"))
            return ;;
        --error-report | --retry)
            COMPREPLY=($(compgen -W "off" -- "$cur"))
            return ;;
        --count | --timeout | --wait-input)
            return ;;
    esac

    # The command word: the first word that is no option and no option's value.
    local i command="" sub=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --port | --baud | --count | --timeout | --wait-input | --error-report | --retry | --keep-relays)
                ((i++)) ;;
            -*) ;;
            *)
                if [[ -z $command ]]; then command=${words[i]}; elif [[ -z $sub ]]; then sub=${words[i]}; fi ;;
        esac
    done

    local options=""
    case $command in
        "")
            COMPREPLY=($(compgen -W "$globals $commands" -- "$cur"))
            return ;;
        relay)
            options="--wait-input --timeout"
            if [[ $cur != -* && -n $sub ]]; then
                COMPREPLY=($(compgen -W "on off toggle" -- "$cur"))
                return
            fi
            [[ $cur != -* ]] && { COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8 all" -- "$cur")); return; } ;;
        relays) options="--wait-input --timeout" ;;
        watch) options="--count --timeout" ;;
        config)
            if [[ -z $sub && $cur != -* ]]; then
                COMPREPLY=($(compgen -W "set" -- "$cur"))
                return
            fi
            [[ $sub == set ]] && options="--baud --error-report --retry --keep-relays --reset" ;;
        flash)
            options="--bootloader"
            [[ $cur != -* ]] && { COMPREPLY=($(compgen -f -- "$cur")); return; } ;;
    esac
    COMPREPLY=($(compgen -W "--port --baud --json --quiet --verbose --help $options" -- "$cur"))
}
complete -F _swb808ctl swb808ctl
