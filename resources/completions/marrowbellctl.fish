# fish completion for marrowbellctl
#
# Commands, options and subcommands are read from `marrowbellctl help [COMMAND]`, and
# job, endpoint and harness names from its --json listings, so the completion follows
# the installed tool.

# The values of a top-level string field ("name", "id") of a --json listing, one a line.
function __marrowbellctl_field -a field listing
    marrowbellctl $listing --json 2>/dev/null |
        string replace -rf '^ *"'$field'": "(.*)",?$' '$1' |
        string replace -a '\\"' '"' | string replace -a '\\\\' '\\'
end

# The commands: the lines "  NAME  summary" (or "  marrowbellctl NAME …") of `help`.
function __marrowbellctl_commands
    marrowbellctl help 2>/dev/null | string replace -rf '^  (?:marrowbellctl )?([a-z][a-z-]*).*' '$1'
end

# The help of one command: its usage forms and options. A marrowbellctl whose `help`
# takes no COMMAND prints every form: only the command's own are kept.
function __marrowbellctl_help -a command
    set -l text (marrowbellctl help $command 2>/dev/null)
    if string match -q -- "marrowbellctl $command *" $text[1]
        string join \n -- $text
    else
        string match -- "  marrowbellctl $command *" $text
    end
end

function __marrowbellctl_options
    __marrowbellctl_help (commandline -opc)[2] | string match -ar -- '--[a-z][a-z-]*' | sort -u
end

function __marrowbellctl_subcommands -a command
    __marrowbellctl_help $command | string match -ar -- '(?:^  marrowbellctl |\| )'$command' [a-z][a-z-]*' |
        string replace -r '.* ' '' | sort -u
end

# True when the command (the first word after marrowbellctl) is one of the arguments.
function __marrowbellctl_command_is
    contains -- (commandline -opc)[2] $argv
end

# True when the words typed so far are the command and exactly COUNT more.
function __marrowbellctl_at -a count
    test (count (commandline -opc)) -eq (math $count + 1)
end

complete -c marrowbellctl -f
complete -c marrowbellctl -n __fish_use_subcommand -a '(__marrowbellctl_commands)'
complete -c marrowbellctl -n 'not __fish_use_subcommand; and string match -q -- "-*" (commandline -ct)' \
    -a '(__marrowbellctl_options)'
complete -c marrowbellctl -n '__fish_prev_arg_in --folder' -a '(__fish_complete_directories)'
complete -c marrowbellctl -n '__fish_prev_arg_in --prompt-file' -F
complete -c marrowbellctl -n '__fish_prev_arg_in --harness' -a '(__marrowbellctl_field id harnesses)'
complete -c marrowbellctl -n '__fish_prev_arg_in --endpoint' -a '(__marrowbellctl_field name endpoints)'
complete -c marrowbellctl -n '__fish_prev_arg_in --permission' -a 'readOnly scopedWrite fullAccess'
complete -c marrowbellctl -n '__fish_prev_arg_in --offline' -a 'skip fail'
complete -c marrowbellctl -n '__marrowbellctl_command_is delete edit follow log pause preview resume run runs stop; and __marrowbellctl_at 1' \
    -a '(__marrowbellctl_field name jobs)'
complete -c marrowbellctl -n '__marrowbellctl_command_is help; and __marrowbellctl_at 1' -a '(__marrowbellctl_commands)'
complete -c marrowbellctl -n '__marrowbellctl_command_is endpoints; and __marrowbellctl_at 1' \
    -a '(__marrowbellctl_subcommands endpoints)'
complete -c marrowbellctl -n '__marrowbellctl_command_is endpoints; and __marrowbellctl_at 2; and not __fish_seen_subcommand_from add' \
    -a '(__marrowbellctl_field name endpoints)'
complete -c marrowbellctl -n '__marrowbellctl_command_is endpoints; and __marrowbellctl_at 4; and __fish_seen_subcommand_from add' \
    -a 'lmStudio ollama openAICompatible anthropicCompatible'
complete -c marrowbellctl -n '__marrowbellctl_command_is parse; and __marrowbellctl_at 1' \
    -a 'claudeStreamJSON codexJSONL opencodeJSON piJSON'
complete -c marrowbellctl -n '__marrowbellctl_command_is parse; and not __marrowbellctl_at 1' -F
