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

// The command being run, for `unknownOption`.
static const Command* running = nullptr;

Command::Command(const char* name, Help help, int (*run)(Arguments))
    : name(name)
    , help(help)
    , run(run) {
    commands().push_back(this);
}

int usage(std::string_view message) {
    std::cerr << "marrowbellctl: " << message << "\n";
    return usageError;
}

static const Command* commandNamed(std::string_view name) {
    for (const Command* command : commands())
        if (name == command->name)
            return command;
    return nullptr;
}

// Every line of `text` behind `prefix`.
static void printLines(std::ostream& out, std::string_view prefix, std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        out << prefix << text.substr(0, end) << "\n";
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

// One form of a command, wrapped before an option group ("[--model M]") that would
// pass 80 columns, its further lines indented.
static void printForm(std::ostream& out, std::string_view form) {
    constexpr std::size_t width = 80;
    std::string line = "  marrowbellctl ";
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= form.size(); ++i) {
        if (i < form.size()) {
            depth += form[i] == '[' ? 1 : form[i] == ']' ? -1 : 0;
            if (form[i] != ' ' || depth > 0)
                continue;
        }
        const std::string_view word = form.substr(start, i - start);
        if (line.size() + word.size() > width && line.find_first_not_of(' ') < line.size() &&
            line.back() == ' ') {
            line.pop_back();
            out << line << "\n";
            line = "      ";
        }
        line.append(word).push_back(' ');
        start = i + 1;
    }
    line.pop_back();
    out << line << "\n";
}

static void printUsage(std::ostream& out, const Command& command) {
    out << "usage:\n";
    std::string_view forms = command.help.usage;
    while (!forms.empty()) {
        const std::size_t end = std::min(forms.find('\n'), forms.size());
        printForm(out, forms.substr(0, end));
        forms.remove_prefix(std::min(end + 1, forms.size()));
    }
}

int unknownOption(std::string_view option) {
    std::cerr << "marrowbellctl: " << (running ? running->name : "") << ": unknown option \u201C"
              << printable(option) << "\u201D\n";
    if (running)
        printUsage(std::cerr, *running);
    return usageError;
}

static void printCommandHelp(std::ostream& out, const Command& command) {
    out << "marrowbellctl " << command.name << " \u2014 " << command.help.summary << "\n\n";
    printUsage(out, command);
    if (*command.help.options) {
        out << "\noptions:\n";
        printLines(out, "", command.help.options);
    }
    out << "\nexample:\n";
    printLines(out, "  ", command.help.example);
}

static void printHelp(std::ostream& out) {
    constexpr std::pair<Group, const char*> groups[] = {
        {Group::jobs, "Jobs"},
        {Group::running, "Running"},
        {Group::history, "History"},
        {Group::endpointsAndSettings, "Endpoints and settings"}};
    auto sorted = commands();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command* a, const Command* b) { return std::strcmp(a->name, b->name) < 0; });
    out << "usage: marrowbellctl COMMAND [ARGUMENTS]\n";
    for (const auto& [group, title] : groups) {
        out << "\n" << title << ":\n";
        for (const Command* command : sorted)
            if (command->help.group == group) {
                std::string name = command->name;
                name.resize(std::max<std::size_t>(name.size(), 11), ' ');
                out << "  " << name << command->help.summary << "\n";
            }
    }
    out << "\nA JOB is a job's name or identifier, an ENDPOINT an endpoint's.\n"
           "\u201Cmarrowbellctl help COMMAND\u201D shows a command's options and an example;\n"
           "\u201Cmarrowbellctl --version\u201D the version.\n";
}

// `help`, `help COMMAND`.
static int help(Arguments arguments) {
    if (arguments.empty()) {
        printHelp(std::cout);
        return success;
    }
    const Command* command = arguments.size() == 1 ? commandNamed(arguments[0]) : nullptr;
    if (!command)
        return usage(arguments.size() == 1
                         ? "help: no command is called \u201C" + printable(arguments[0]) +
                               "\u201D; \u201Cmarrowbellctl help\u201D lists them"
                         : std::string("help takes at most one COMMAND"));
    printCommandHelp(std::cout, *command);
    return success;
}

// Whether the arguments ask for the command's help (before any "--").
static bool asksForHelp(Arguments arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--")
            return false;
        if (argument == "--help" || argument == "-h")
            return true;
    }
    return false;
}

} // namespace marrowbell::ctl

int main(int argc, char** argv) {
    using namespace marrowbell::ctl;
    makeStandardStreamsTerminalSafe();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        printHelp(std::cerr);
        return usageError;
    }
    const std::string& name = arguments[0];
    const Arguments rest = Arguments(arguments).subspan(1);
    if (name == "--version" && rest.empty()) {
        std::cout << "marrowbellctl " << MARROWBELL_VERSION << "\n";
        return success;
    }
    if (name == "help" || name == "--help" || name == "-h")
        return help(rest);
    const Command* command = commandNamed(name);
    if (!command) {
        usage("unknown command \u201C" + printable(name) + "\u201D");
        printHelp(std::cerr);
        return usageError;
    }
    if (asksForHelp(rest)) {
        printCommandHelp(std::cout, *command);
        return success;
    }
    running = command;
    try {
        return command->run(rest);
    } catch (const std::exception& error) {
        std::cerr << "marrowbellctl: " << error.what() << "\n";
        return failure;
    }
}
