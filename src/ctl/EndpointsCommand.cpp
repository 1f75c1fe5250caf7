// marrowbellctl endpoints: list, check, add and delete endpoints, and set or remove
// their API keys. Keys are read from standard input only, never from the command
// line, and are never printed.

#include "Command.h"
#include "LoadProblems.h"
#include "Options.h"
#include "TerminalText.h"

#include "endpoint/EndpointProbe.h"
#include "endpoint/SecretStore.h"
#include "job/JobStore.h"
#include "service/EndpointService.h"
#include "service/NameLookup.h"
#include "settings/EndpointStore.h"

#include <csignal>
#include <iostream>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace marrowbell::ctl {
namespace {

std::string inQuotes(std::string_view text) {
    return "\u201C" + printable(text) + "\u201D";
}

// The endpoint an argument names, or the message saying why none.
struct Lookup {
    std::optional<Endpoint> endpoint;
    std::string error;
};

Lookup find(const std::vector<Endpoint>& endpoints, const std::string& argument) {
    try {
        return {NameLookup::endpoint(endpoints, argument), {}};
    } catch (const NameLookup::Error& error) {
        return {std::nullopt, error.what()};
    }
}

EndpointService service(std::shared_ptr<EndpointStore> store) {
    return EndpointService(std::move(store), SecretStore::shared());
}

std::optional<std::string> keyFor(const Endpoint& endpoint) {
    if (!mayNeedAPIKey(endpoint.kind))
        return std::nullopt;
    return SecretStore::shared().secret(endpoint.id);
}

int list(Arguments arguments) {
    bool asJson = false;
    for (const std::string& argument : arguments) {
        if (argument == "--json")
            asJson = true;
        else if (argument.starts_with("-"))
            return unknownOption(argument);
        else
            return usage("endpoints: unexpected argument " + inQuotes(argument));
    }
    EndpointStore store(EndpointStore::defaultFileURL());
    const SecretStore& secrets = SecretStore::shared();
    auto endpoints = store.endpoints();
    if (asJson) {
        Json array = Json::array();
        for (const Endpoint& endpoint : endpoints) {
            Json item = endpoint.toJson();
            item["hasKey"] = secrets.secret(endpoint.id).has_value();
            array.push_back(std::move(item));
        }
        Json document = {
            {"credentialStore",
             {{"backend",
               secrets.backend() == SecretStore::Backend::secretService ? "secretService" : "file"},
              {"description", secrets.backendDescription()}}},
            {"endpoints", array}};
        jsonOutput() << json::pretty(document);
        return success;
    }
    std::cout << "Keys are kept in " << secrets.backendDescription() << ".\n";
    if (endpoints.empty()) {
        std::cout << "No endpoints.\n";
        return success;
    }
    for (const Endpoint& endpoint : endpoints) {
        bool hasKey = secrets.secret(endpoint.id).has_value();
        std::cout << "\n"
                  << printable(endpoint.name) << " \u2014 " << displayName(endpoint.kind) << " at "
                  << printable(endpoint.baseURL.absoluteString) << "\n"
                  << "  " << endpoint.id.text() << ", "
                  << (hasKey                         ? "key stored"
                      : mayNeedAPIKey(endpoint.kind) ? "no key"
                                                     : "no key needed")
                  << "\n";
    }
    return success;
}

int check(Arguments arguments) {
    if (arguments.size() > 1)
        return usage("endpoints check: expected at most one ENDPOINT");
    EndpointStore store(EndpointStore::defaultFileURL());
    std::vector<Endpoint> targets = store.endpoints();
    if (arguments.size() == 1) {
        Lookup lookup = find(targets, arguments[0]);
        if (!lookup.endpoint)
            return usage("endpoints check: " + lookup.error);
        targets = {*lookup.endpoint};
    }
    if (targets.empty()) {
        std::cout << "No endpoints.\n";
        return success;
    }
    EndpointProbe probe(5);
    bool allReachable = true;
    for (const Endpoint& endpoint : targets) {
        EndpointStatus status = probe.check(endpoint, keyFor(endpoint));
        allReachable = allReachable && status.isReachable();
        std::cout << printable(endpoint.name) << " (" << printable(endpoint.shortDescription())
                  << "): " << printable(status.summary()) << "\n";
        for (const std::string& model : status.models())
            std::cout << "  " << printable(model) << "\n";
        std::cout.flush();
    }
    return allReachable ? success : failure;
}

// The terminal's settings while the key is typed without echo, for a signal that
// ends the program then (Ctrl-C) to put back before the program ends.
termios savedTerminal{};
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

extern "C" void restoreTerminalAndEnd(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, "\n", 1);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Echo off on the terminal for as long as it lives, and back on however the program
// leaves the prompt: returning, or a signal ending it.
class QuietTerminal {
public:
    QuietTerminal() {
        if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
            return;
        struct sigaction handler {};
        handler.sa_handler = restoreTerminalAndEnd;
        ::sigemptyset(&handler.sa_mask);
        for (std::size_t i = 0; i < std::size(endingSignals); ++i)
            ::sigaction(endingSignals[i], &handler, &previous_[i]);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = true;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~QuietTerminal() {
        if (!active_)
            return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        for (std::size_t i = 0; i < std::size(endingSignals); ++i)
            ::sigaction(endingSignals[i], &previous_[i], nullptr);
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

private:
    struct sigaction previous_[std::size(endingSignals)]{};
    bool active_ = false;
};

// One line from standard input, without echo when it is a terminal.
std::optional<std::string> readKey(const std::string& endpointName) {
    bool terminal = ::isatty(STDIN_FILENO);
    std::string input;
    if (terminal) {
        std::cerr << "API key for " << printable(endpointName) << ": " << std::flush;
        {
            QuietTerminal quiet;
            std::getline(std::cin, input);
        }
        std::cerr << "\n";
    } else {
        input.assign(std::istreambuf_iterator<char>(std::cin), {});
    }
    if (input.ends_with('\n'))
        input.pop_back();
    if (input.ends_with('\r'))
        input.pop_back();
    if (input.find_first_of("\r\n") != std::string::npos)
        return std::nullopt;
    return input;
}

int setKey(Arguments arguments) {
    if (arguments.size() != 1)
        return usage("endpoints set-key: expected ENDPOINT (the key is read from standard input)");
    auto store = std::make_shared<EndpointStore>(EndpointStore::defaultFileURL());
    warnAbout(store->loadProblems());
    Lookup lookup = find(store->endpoints(), arguments[0]);
    if (!lookup.endpoint)
        return usage("endpoints set-key: " + lookup.error);
    const Endpoint& endpoint = *lookup.endpoint;
    auto key = readKey(endpoint.name);
    if (!key)
        return usage("endpoints set-key: the key must be a single line");
    const SecretStore& secrets = SecretStore::shared();
    try {
        service(store).setKey(endpoint, *key);
    } catch (const SecretStore::Failure& error) {
        std::cerr << "marrowbellctl: " << error.what() << "\n";
        return failure;
    }
    if (key->empty()) {
        std::cout << "The key was empty: " << printable(endpoint.name) << " has no key now.\n";
        return success;
    }
    std::cout << "Saved the key of " << printable(endpoint.name) << " in "
              << secrets.backendDescription() << ".\n";
    if (!mayNeedAPIKey(endpoint.kind))
        std::cerr << "note: " << displayName(endpoint.kind)
                  << " endpoints are used without a key; this one is kept but not sent.\n";
    return success;
}

int removeKey(Arguments arguments) {
    if (arguments.size() != 1)
        return usage("endpoints remove-key: expected ENDPOINT");
    auto store = std::make_shared<EndpointStore>(EndpointStore::defaultFileURL());
    warnAbout(store->loadProblems());
    Lookup lookup = find(store->endpoints(), arguments[0]);
    if (!lookup.endpoint)
        return usage("endpoints remove-key: " + lookup.error);
    try {
        service(store).removeKey(*lookup.endpoint);
    } catch (const SecretStore::Failure& error) {
        std::cerr << "marrowbellctl: " << error.what() << "\n";
        return failure;
    }
    std::cout << printable(lookup.endpoint->name) << " has no key now.\n";
    return success;
}

std::optional<EndpointKind> kindNamed(const std::string& text, const char* command) {
    if (auto kind = endpointKind(text))
        return kind;
    std::string kinds;
    for (EndpointKind k : allEndpointKinds)
        kinds += (kinds.empty() ? "" : ", ") + std::string(rawValue(k));
    usage(std::string(command) + ": unknown kind " + inQuotes(text) + "; use one of " + kinds);
    return std::nullopt;
}

int add(Arguments arguments) {
    if (arguments.size() != 3)
        return usage("endpoints add: expected NAME URL KIND");
    auto kind = kindNamed(arguments[2], "endpoints add");
    if (!kind)
        return usageError;
    auto store = std::make_shared<EndpointStore>(EndpointStore::defaultFileURL());
    warnAbout(store->loadProblems());
    std::optional<Endpoint> added;
    try {
        added = service(store).add(arguments[0], arguments[1], *kind);
    } catch (const EndpointService::Refusal& refusal) {
        return usage("endpoints add: " + std::string(refusal.what()));
    }
    const Endpoint& endpoint = *added;
    std::cout << "Added " << printable(endpoint.name) << " (" << displayName(*kind) << " at "
              << printable(endpoint.shortDescription()) << "): " << endpoint.id.text() << "\n";
    return success;
}

int edit(Arguments arguments) {
    std::optional<Options> options;
    try {
        options = Options::parse(arguments, {{"name", "url", "kind"}, {}, {}}, "endpoints edit");
    } catch (const UnknownOption& option) {
        return unknownOption(option.what());
    } catch (const BadArgument& error) {
        return usage(error.what());
    }
    if (options->operands.size() != 1)
        return usage("endpoints edit: expected ENDPOINT [--name N] [--url URL] [--kind KIND]");
    if (options->empty())
        return usage("endpoints edit: nothing to change; give --name, --url or --kind");
    EndpointService::Edit change{options->value("name"), options->value("url"), std::nullopt};
    if (auto kind = options->value("kind")) {
        change.kind = kindNamed(*kind, "endpoints edit");
        if (!change.kind)
            return usageError;
    }
    auto store = std::make_shared<EndpointStore>(EndpointStore::defaultFileURL());
    warnAbout(store->loadProblems());
    Lookup lookup = find(store->endpoints(), options->operands[0]);
    if (!lookup.endpoint)
        return usage("endpoints edit: " + lookup.error);
    const Endpoint& before = *lookup.endpoint;
    std::optional<Endpoint> after;
    try {
        after = service(store).edit(before, change);
    } catch (const EndpointService::Refusal& refusal) {
        return usage("endpoints edit: " + std::string(refusal.what()));
    }
    if (*after == before) {
        std::cout << "Nothing changed: " << printable(before.name) << " already reads so.\n";
        return success;
    }
    std::cout << "Changed " << printable(after->name) << " (" << after->id.text() << "):\n";
    auto line = [](const char* field, std::string_view from, std::string_view to) {
        if (from != to)
            std::cout << "  " << field << printable(from) << " \u2192 " << printable(to) << "\n";
    };
    line("Name:    ", before.name, after->name);
    line("Address: ", before.baseURL.absoluteString, after->baseURL.absoluteString);
    line("Kind:    ", displayName(before.kind), displayName(after->kind));
    if (wireProtocol(before.kind) != wireProtocol(after->kind))
        std::cerr << "marrowbellctl: note: it now answers in the "
                  << displayName(wireProtocol(after->kind))
                  << " protocol; jobs whose harness speaks the other one will refuse it\n";
    return success;
}

int remove(Arguments arguments) {
    if (arguments.size() != 1)
        return usage("endpoints delete: expected ENDPOINT");
    auto store = std::make_shared<EndpointStore>(EndpointStore::defaultFileURL());
    warnAbout(store->loadProblems());
    Lookup lookup = find(store->endpoints(), arguments[0]);
    if (!lookup.endpoint)
        return usage("endpoints delete: " + lookup.error);
    const Endpoint& endpoint = *lookup.endpoint;
    std::vector<Job> jobs;
    try {
        jobs = JobStore(JobStore::defaultDirectory()).jobs();
    } catch (const std::exception&) {
        // Without readable jobs there is nobody to warn.
    }
    std::vector<Job> depending;
    try {
        depending = service(store).remove(endpoint, jobs);
    } catch (const SecretStore::Failure& error) {
        std::cerr << "marrowbellctl: " << error.what() << "\n"
                  << "marrowbellctl: " << printable(endpoint.name) << " was not deleted\n";
        return failure;
    }
    std::cout << "Deleted " << printable(endpoint.name) << " and its key.\n";
    if (!depending.empty()) {
        std::cout << "These jobs used it and now run with their harness's own provider:\n";
        for (const Job& job : depending)
            std::cout << "  " << printable(job.name) << "\n";
    }
    return success;
}

int run(Arguments arguments) {
    if (arguments.empty() || arguments[0].starts_with("--"))
        return list(arguments);
    const std::string& action = arguments[0];
    Arguments rest = arguments.subspan(1);
    if (action == "check")
        return check(rest);
    if (action == "set-key")
        return setKey(rest);
    if (action == "remove-key")
        return removeKey(rest);
    if (action == "add")
        return add(rest);
    if (action == "edit")
        return edit(rest);
    if (action == "delete")
        return remove(rest);
    return usage("endpoints: unknown action " + inQuotes(action) +
                 "; use check, add, edit, set-key, remove-key or delete");
}

const Command command{
    "endpoints",
    Help{Group::endpointsAndSettings,
         "list, add, change, check and delete model servers and their keys",
         "endpoints [--json]\n"
         "endpoints check [ENDPOINT]\n"
         "endpoints add NAME URL KIND\n"
         "endpoints edit ENDPOINT [--name N] [--url URL] [--kind KIND]\n"
         "endpoints set-key ENDPOINT  (the key on standard input)\n"
         "endpoints remove-key ENDPOINT\n"
         "endpoints delete ENDPOINT",
         "KIND is lmStudio, ollama, openAICompatible or anthropicCompatible. URL is the full\n"
         "address with any path the server expects, such as http://127.0.0.1:1234/v1.\n"
         "  --name N              (edit) a new name\n"
         "  --url URL             (edit) a new address\n"
         "  --kind KIND           (edit) a new kind; a stored key is kept\n"
         "  --json                as JSON",
         "marrowbellctl endpoints add Studio http://127.0.0.1:1234/v1 lmStudio\n"
         "marrowbellctl endpoints edit Studio --url http://192.168.1.20:1234/v1"},

    &run};

} // namespace
} // namespace marrowbell::ctl
