# bash completion for marrowbellctl
#
# Commands, options and subcommands are read from `marrowbellctl help [COMMAND]`, and
# job, endpoint and harness names from its --json listings, so the completion follows
# the installed tool.

# The values of a top-level string field ("name", "id") of a --json listing, one a line.
_marrowbellctl_field() {
    local field=$1
    shift
    "$@" --json 2>/dev/null |
        sed -n 's/^ *"'"$field"'": "\(.*\)",\{0,1\}$/\1/p' | sed 's/\\"/"/g; s/\\\\/\\/g'
}

# Offers each line of $1 that starts with the word being completed, quoted for the shell.
_marrowbellctl_offer() {
    local IFS=$'\n' word
    for word in $1; do
        [[ $word == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$word")")
    done
    return 0
}

# The commands: the lines "  NAME  summary" (or "  marrowbellctl NAME …") of `help`.
_marrowbellctl_commands() {
    "$1" help 2>/dev/null | sed -n 's/^  \(marrowbellctl \)\{0,1\}\([a-z][a-z-]*\).*/\2/p'
}

# The help of one command: its usage forms and options. A marrowbellctl whose `help`
# takes no COMMAND prints every form: only the command's own are kept.
_marrowbellctl_help() {
    local text
    text=$("$1" help "$2" 2>/dev/null)
    if [[ $text == "marrowbellctl $2 "* ]]; then
        printf '%s\n' "$text"
    else
        grep "^  marrowbellctl $2 " <<<"$text"
    fi
}

_marrowbellctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local ctl=${COMP_WORDS[0]} command=${COMP_WORDS[1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        _marrowbellctl_offer "$(_marrowbellctl_commands "$ctl")"
        return 0
    fi
    case $prev in
    --folder)
        compopt -o filenames
        COMPREPLY=($(compgen -d -- "$cur"))
        return 0
        ;;
    --prompt-file)
        compopt -o filenames
        COMPREPLY=($(compgen -f -- "$cur"))
        return 0
        ;;
    --harness) _marrowbellctl_offer "$(_marrowbellctl_field id "$ctl" harnesses)" && return 0 ;;
    --endpoint) _marrowbellctl_offer "$(_marrowbellctl_field name "$ctl" endpoints)" && return 0 ;;
    --permission) _marrowbellctl_offer $'readOnly\nscopedWrite\nfullAccess' && return 0 ;;
    --offline) _marrowbellctl_offer $'skip\nfail' && return 0 ;;
    --zone | --after | --count | --schedule | --model | --skill | --timeout) return 0 ;;
    esac
    if [[ $cur == -* ]]; then
        _marrowbellctl_offer "$(_marrowbellctl_help "$ctl" "$command" | grep -o -- '--[a-z][a-z-]*' | sort -u)"
        return 0
    fi
    case $command in
    delete | edit | follow | log | pause | preview | resume | run | runs | stop)
        ((COMP_CWORD == 2)) && _marrowbellctl_offer "$(_marrowbellctl_field name "$ctl" jobs)"
        ;;
    help)
        ((COMP_CWORD == 2)) && _marrowbellctl_offer "$(_marrowbellctl_commands "$ctl")"
        ;;
    endpoints)
        if ((COMP_CWORD == 2)); then
            _marrowbellctl_offer "$(_marrowbellctl_help "$ctl" endpoints |
                grep -o -E '(^  marrowbellctl |\| )endpoints [a-z][a-z-]*' | sed 's/.* //' | sort -u)"
        elif ((COMP_CWORD == 3)) && [[ ${COMP_WORDS[2]} != add ]]; then
            _marrowbellctl_offer "$(_marrowbellctl_field name "$ctl" endpoints)"
        elif ((COMP_CWORD == 5)) && [[ ${COMP_WORDS[2]} == add ]]; then
            _marrowbellctl_offer $'lmStudio\nollama\nopenAICompatible\nanthropicCompatible'
        fi
        ;;
    parse)
        if ((COMP_CWORD == 2)); then
            _marrowbellctl_offer $'claudeStreamJSON\ncodexJSONL\nopencodeJSON\npiJSON'
        else
            compopt -o filenames
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
        ;;
    esac
    return 0
}
complete -F _marrowbellctl marrowbellctl
