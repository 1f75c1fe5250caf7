#pragma once

#include <span>
#include <string>
#include <string_view>

namespace marrowbell::ctl {

// Exit statuses of marrowbellctl: 0 success, 1 the action ran and failed,
// 2 the command line or its arguments were wrong.
enum Exit : int { success = 0, failure = 1, usageError = 2 };

using Arguments = std::span<const std::string>;

// A subcommand. Each lives in its own file and registers itself with a static
// `Command` object, so adding one touches no shared table.
struct Command {
    const char* name;
    const char* usage; // one line, after "marrowbellctl "
    int (*run)(Arguments arguments);

    Command(const char* name, const char* usage, int (*run)(Arguments));
};

// Prints "marrowbellctl: {message}" on standard error and returns usageError.
int usage(std::string_view message);

} // namespace marrowbell::ctl
