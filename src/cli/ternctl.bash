# bash completion for ternctl: commands, options, setting names and their values.
# The setting names and values come from `ternctl describe`, so they are
# always those of the installed ternctl.

_ternctl_settings() {
    "${1:-ternctl}" describe 2>/dev/null | awk '/^  [A-Za-z]/ { print $1 }'
}

# The values of one setting, as describe lists them ("OFF, ON"; "on, off").
_ternctl_values() {
    "${1:-ternctl}" describe 2>/dev/null | awk -v name="$2" '
        $1 == name {
            sub(/^  [^ ]+( \([a-z-]+\))* +/, "")
            if ($0 ~ /^[0-9]+ to / || $0 ~ /digits/ || $0 ~ /characters/) exit
            n = split($0, v, ", ")
            for (i = 1; i <= n; i++) print v[i]
        }'
}

_ternctl() {
    local cur prev cmd
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    cmd=${COMP_WORDS[1]}
    local commands="probe ports simulate backup restore show diff get set describe"
    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    case $prev in
        --port|--port2)
            COMPREPLY=($(compgen -W "auto auto-all $(compgen -G '/dev/ttyUSB*') $(compgen -G '/dev/ttyACM*') $(compgen -G '/dev/ttyS*') $(compgen -G '/dev/serial/by-id/*')" -- "$cur"))
            return ;;
        --trace|--from|--link)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --dev)
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
    esac
    local common="--port --port2 --trace --json --help"
    local options
    case $cmd in
        probe) options="$common" ;;
        ports) options="--probe --dev --json --help" ;;
        simulate) options="--link --baud --corrupt-every --drop-every --nak-frame --corrupt-reply --drop-ack --corrupt-all --refuse --error --hi-res --lo-res --pal --ntsc --trace --defect --slot --fail-piece --help" ;;
        backup) options="$common --quiet --force" ;;
        restore) options="$common --quiet --single --batch --verify" ;;
        show) options="--json --help" ;;
        diff) options="$common --quiet" ;;
        get) options="$common" ;;
        set) options="$common --from --save --service --dry-run --changed-only" ;;
        describe) options="--json --help" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $cmd in
        get)
            COMPREPLY=($(compgen -W "$(_ternctl_settings "${COMP_WORDS[0]}")" -- "$cur")) ;;
        set)
            if [[ $cur == *=* ]]; then
                local name=${cur%%=*}
                local IFS=$'\n'
                COMPREPLY=($(compgen -P "$name=" -W "$(_ternctl_values "${COMP_WORDS[0]}" "$name")" -- "${cur#*=}"))
            else
                compopt -o nospace 2>/dev/null
                COMPREPLY=($(compgen -S "=" -W "$(_ternctl_settings "${COMP_WORDS[0]}")" -- "$cur"))
            fi ;;
        *)
            COMPREPLY=($(compgen -f -- "$cur")) ;;
    esac
}
complete -F _ternctl ternctl
