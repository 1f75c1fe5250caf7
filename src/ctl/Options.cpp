#include "Options.h"

namespace marrowbell::ctl {

Options Options::parse(Arguments arguments, const Accepted& accepted, const char* command) {
    Options options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            options.operands.push_back(argument);
            continue;
        }
        if (!argument.starts_with("--"))
            throw UnknownOption(argument);
        std::string key = argument.substr(2);
        std::optional<std::string> value;
        if (auto equals = key.find('='); equals != std::string::npos) {
            value = key.substr(equals + 1);
            key.erase(equals);
        }
        if (accepted.flags.contains(key) && !value) {
            options.flags.insert(key);
            continue;
        }
        if (key != accepted.repeatable && !accepted.values.contains(key))
            throw UnknownOption(argument);
        if (!value) {
            if (i + 1 == arguments.size())
                throw BadArgument(std::string(command) + ": --" + key + " needs a value");
            value = arguments[++i];
        }
        if (key == accepted.repeatable)
            options.repeated.push_back(*value);
        else if (!options.values.emplace(key, *value).second)
            throw BadArgument(std::string(command) + ": --" + key + " is given more than once");
    }
    return options;
}

std::optional<std::string> Options::value(const std::string& option) const {
    auto found = values.find(option);
    return found == values.end() ? std::nullopt : std::optional(found->second);
}

} // namespace marrowbell::ctl
