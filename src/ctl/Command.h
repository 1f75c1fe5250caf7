#pragma once

#include <span>
#include <string>
#include <string_view>

namespace marrowbell::ctl {

// Exit statuses of marrowbellctl: 0 success, 1 the action ran and failed,
// 2 the command line or its arguments were wrong.
enum Exit : int { success = 0, failure = 1, usageError = 2 };

using Arguments = std::span<const std::string>;

// Where `marrowbellctl help` lists a command.
enum class Group { jobs, running, history, endpointsAndSettings };

// What `help COMMAND`, `COMMAND --help` and `-h` print.
struct Help {
    Group group;
    const char* summary; // one line for the list of commands, lower case, no full stop
    const char* usage;   // one line per form, each after "marrowbellctl "
    const char* options; // lines "  --option VALUE  what it does"; may be empty
    const char* example; // one or more command lines
};

// A subcommand. Each lives in its own file and registers itself with a static
// `Command` object, so adding one touches no shared table.
struct Command {
    const char* name;
    Help help;
    int (*run)(Arguments arguments);

    Command(const char* name, Help help, int (*run)(Arguments));
};

// Prints "marrowbellctl: {message}" on standard error and returns usageError.
int usage(std::string_view message);

// For an option the running command does not know: prints "marrowbellctl: {command}:
// unknown option “{option}”" and the command's usage on standard error, and returns
// usageError.
int unknownOption(std::string_view option);

} // namespace marrowbell::ctl
