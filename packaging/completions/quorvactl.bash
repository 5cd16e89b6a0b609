# bash completion for quorvactl                            -*- shell-script -*-
# Installed where bash-completion loads it on demand; it needs nothing of
# bash-completion's own helpers, but uses _command_offset for hold's COMMAND
# when that is there.

_quorvactl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="status is-running pid start stop restart hold permissions wait-driver logs doctor home"
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi
    # The command is the first word that is not an option or an option's value.
    local command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --home | --timeout | --wait | -n | --lines) ((i++)) ;;
        -*) ;;
        *) command=${COMP_WORDS[i]} && break ;;
        esac
    done
    if [[ -z $command ]]; then
        if [[ $prev == --home ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "$commands --home --help --version" -- "$cur")
        fi
        return
    fi
    # hold [--] COMMAND [ARGS...]: complete the command line after "--".
    if [[ $command == hold ]]; then
        for ((i = i + 1; i < COMP_CWORD; i++)); do
            [[ ${COMP_WORDS[i]} == -- ]] || continue
            if declare -F _command_offset >/dev/null; then
                _command_offset $((i + 1))
            elif ((COMP_CWORD == i + 1)); then
                mapfile -t COMPREPLY < <(compgen -c -- "$cur")
            else
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            fi
            return
        done
    fi
    case $prev in
    --home)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    --wait)
        mapfile -t COMPREPLY < <(compgen -W "ready running" -- "$cur")
        return
        ;;
    -n | --lines)
        mapfile -t COMPREPLY < <(compgen -W "all" -- "$cur")
        return
        ;;
    --timeout) return ;;
    esac
    local options="--home --help"
    case $command in
    status) options+=" -q --quiet --json --wait --timeout" ;;
    start | restart) options+=" --english --permissions --timeout" ;;
    hold) options+=" --english --permissions --timeout --" ;;
    permissions) options+=" --english --timeout" ;;
    stop | wait-driver) options+=" --timeout" ;;
    logs) options+=" -n --lines -f --follow" ;;
    is-running | pid | doctor | home) ;;
    *) return ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}
complete -F _quorvactl quorvactl
