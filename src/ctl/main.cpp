#include "Command.h"
#include "TerminalText.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <iostream>
#include <vector>

namespace marrowbell::ctl {

static std::vector<const Command*>& commands() {
    static std::vector<const Command*> all;
    return all;
}

Command::Command(const char* name, const char* usage, int (*run)(Arguments))
    : name(name)
    , usage(usage)
    , run(run) {
    commands().push_back(this);
}

int usage(std::string_view message) {
    std::cerr << "marrowbellctl: " << message << "\n";
    return usageError;
}

static void printHelp(std::ostream& out) {
    auto sorted = commands();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command* a, const Command* b) { return std::strcmp(a->name, b->name) < 0; });
    out << "usage:\n";
    for (const Command* command : sorted)
        out << "  marrowbellctl " << command->usage << "\n";
}

} // namespace marrowbell::ctl

int main(int argc, char** argv) {
    using namespace marrowbell::ctl;
    makeStandardStreamsTerminalSafe();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h" ||
        arguments[0] == "help") {
        printHelp(arguments.empty() ? std::cerr : std::cout);
        return arguments.empty() ? usageError : success;
    }
    for (const Command* command : commands()) {
        if (arguments[0] == command->name) {
            try {
                return command->run(Arguments(arguments).subspan(1));
            } catch (const std::exception& error) {
                std::cerr << "marrowbellctl: " << error.what() << "\n";
                return failure;
            }
        }
    }
    usage("unknown command \"" + arguments[0] + "\"");
    printHelp(std::cerr);
    return usageError;
}
