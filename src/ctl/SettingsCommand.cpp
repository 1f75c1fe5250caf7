// marrowbellctl settings: shows the global settings, and changes one by the rules the
// settings window keeps to.

#include "Command.h"
#include "JobOptions.h"
#include "LoadProblems.h"
#include "TerminalText.h"

#include "service/SettingsChange.h"
#include "settings/SettingsStore.h"

#include <iostream>

namespace marrowbell::ctl {
namespace {

std::string keyNames() {
    std::string names;
    for (const SettingsChange::KeyInfo& info : SettingsChange::keys())
        names += (names.empty() ? "" : ", ") + std::string(info.name);
    return names;
}

std::optional<SettingsChange::Key> keyNamed(const std::string& name) {
    auto key = SettingsChange::key(name);
    if (!key)
        usage("settings: no setting is called \u201C" + printable(name) + "\u201D; the keys are " +
              keyNames());
    return key;
}

int show(Arguments arguments) {
    bool asJson = false;
    for (const std::string& argument : arguments) {
        if (argument == "--json")
            asJson = true;
        else if (argument.starts_with("-"))
            return unknownOption(argument);
        else
            return usage("settings: unexpected argument \u201C" + printable(argument) +
                         "\u201D; use set KEY VALUE or reset KEY");
    }
    SettingsStore store(SettingsStore::defaultFileURL());
    warnAbout(store.loadProblems());
    AppSettings settings = store.settings();
    if (asJson) {
        jsonOutput() << json::pretty(settings.toJson());
        return success;
    }
    const std::vector<Endpoint> endpoints =
        settings.defaultEndpointID ? storedEndpoints() : std::vector<Endpoint>{};
    std::cout << "Settings file: " << printable(store.fileURL().string()) << "\n";
    for (const SettingsChange::KeyInfo& info : SettingsChange::keys()) {
        std::string name(info.name);
        name.resize(18, ' ');
        std::cout << name << printable(SettingsChange::valueText(info.key, settings, endpoints))
                  << "\n";
    }
    return success;
}

// Applies the change and says what it did.
int change(const SettingsChange& change) {
    SettingsStore store(SettingsStore::defaultFileURL());
    warnAbout(store.loadProblems());
    const std::vector<Endpoint> endpoints = storedEndpoints();
    const AppSettings before = store.settings();
    store.update([&](AppSettings& settings) { change.apply(settings); });
    const AppSettings after = store.settings();
    const std::string name(SettingsChange::name(change.key()));
    const std::string now = printable(SettingsChange::valueText(change.key(), after, endpoints));
    const std::string was = printable(SettingsChange::valueText(change.key(), before, endpoints));
    if (now == was)
        std::cout << name << " is " << now << " already.\n";
    else
        std::cout << name << ": " << was << " \u2192 " << now << "\n";
    if (change.note())
        std::cerr << "marrowbellctl: note: " << *change.note() << "\n";
    return success;
}

int set(Arguments arguments) {
    if (arguments.size() != 2)
        return usage("settings set needs KEY VALUE; the keys are " + keyNames());
    const auto key = keyNamed(arguments[0]);
    if (!key)
        return usageError;
    const HarnessRegistry registry = HarnessRegistry::bundled();
    try {
        return change(SettingsChange::set(*key, arguments[1],
                                          {registry, storedEndpoints(), searchPaths(registry)}));
    } catch (const SettingsChange::Refusal& refusal) {
        return usage(std::string("settings set: ") + refusal.what());
    }
}

int reset(Arguments arguments) {
    if (arguments.size() != 1)
        return usage("settings reset needs one KEY; the keys are " + keyNames());
    const auto key = keyNamed(arguments[0]);
    return key ? change(SettingsChange::reset(*key)) : usageError;
}

int run(Arguments arguments) {
    if (!arguments.empty() && arguments[0] == "set")
        return set(arguments.subspan(1));
    if (!arguments.empty() && arguments[0] == "reset")
        return reset(arguments.subspan(1));
    return show(arguments);
}

const Command command{
    "settings",
    Help{Group::endpointsAndSettings, "show or change the global settings",
         "settings [--json]\n"
         "settings set KEY VALUE\n"
         "settings reset KEY",
         "KEY and VALUE:\n"
         "  catch-up              never, 15m, 1h or 4h: how late a missed run may still start\n"
         "  default-timeout       minutes, 1 to 240: the time limit of jobs without their own\n"
         "  notify                failures or all: which finished runs are announced\n"
         "  default-harness       a harness of the manifest, preselected for new jobs\n"
         "  default-endpoint      an endpoint's name or identifier, preselected for new jobs\n"
         "  transcript-limit      a size, 1M to 1T, such as 512M: what the run transcripts\n"
         "                        may take together; the oldest go first\n"
         "reset gives the setting its default again. A running scheduler follows at once.\n"
         "  --json                the settings file's content",
         "marrowbellctl settings set catch-up 15m"},
    &run};

} // namespace
} // namespace marrowbell::ctl
