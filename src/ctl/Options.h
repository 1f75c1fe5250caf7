#pragma once

#include "Command.h"

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace marrowbell::ctl {

// A wrong command line; its text is the message. Nothing has been written when it is
// thrown.
struct BadArgument : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// An option the command does not take; its text is the option.
struct UnknownOption : BadArgument {
    using BadArgument::BadArgument;
};

// A command line of operands and options: options with a value ("--folder DIR" or
// "--folder=DIR"), each at most once unless repeatable, and flags ("--no-model").
// "--" ends the options.
struct Options {
    std::vector<std::string> operands;
    std::map<std::string, std::string> values; // by option name, without "--"
    std::vector<std::string> repeated;         // the values of the repeatable option
    std::set<std::string> flags;               // without "--"

    struct Accepted {
        std::set<std::string> values;
        std::set<std::string> flags;
        std::string repeatable; // the one option given as often as wanted, if any
    };
    // Throws BadArgument, or UnknownOption for an option not accepted.
    static Options parse(Arguments arguments, const Accepted& accepted, const char* command);

    std::optional<std::string> value(const std::string& option) const;
    bool has(const std::string& flag) const { return flags.contains(flag); }
    bool empty() const { return values.empty() && repeated.empty() && flags.empty(); }
};

} // namespace marrowbell::ctl
