# fish completion for marrowbellctl
#
# Commands and options are read from `marrowbellctl help`, and job, endpoint and
# harness names from its --json listings, so the completion follows the installed tool.

# The values of a top-level string field ("name", "id") of a --json listing, one a line.
function __marrowbellctl_field -a field listing
    marrowbellctl $listing --json 2>/dev/null |
        string replace -rf '^ *"'$field'": "(.*)",?$' '$1' |
        string replace -a '\\"' '"' | string replace -a '\\\\' '\\'
end

function __marrowbellctl_commands
    marrowbellctl help 2>/dev/null | string replace -rf '^ *marrowbellctl ([a-z-]+).*' '$1'
end

function __marrowbellctl_options
    set -l command (commandline -opc)[2]
    marrowbellctl help 2>/dev/null | string match -r "^ *marrowbellctl $command .*" |
        string match -ar -- '--[a-z-]+'
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
complete -c marrowbellctl -n '__marrowbellctl_command_is delete follow log pause preview resume run runs stop' \
    -a '(__marrowbellctl_field name jobs)'
complete -c marrowbellctl -n '__marrowbellctl_command_is endpoints; and __marrowbellctl_at 1' \
    -a 'check set-key remove-key add delete'
complete -c marrowbellctl -n '__marrowbellctl_command_is endpoints; and __marrowbellctl_at 2; and not __fish_seen_subcommand_from add' \
    -a '(__marrowbellctl_field name endpoints)'
complete -c marrowbellctl -n '__marrowbellctl_command_is endpoints; and __marrowbellctl_at 4; and __fish_seen_subcommand_from add' \
    -a 'lmStudio ollama openAICompatible anthropicCompatible'
complete -c marrowbellctl -n '__marrowbellctl_command_is parse; and __marrowbellctl_at 1' \
    -a 'claudeStreamJSON codexJSONL opencodeJSON piJSON'
complete -c marrowbellctl -n '__marrowbellctl_command_is parse; and not __marrowbellctl_at 1' -F
