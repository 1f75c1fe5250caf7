// marrowbellctl settings: the global settings as the application reads them.

#include "Command.h"
#include "LoadProblems.h"
#include "TerminalText.h"

#include "run/DurationText.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include <iostream>

namespace marrowbell::ctl {
namespace {

std::string catchUpText(Seconds grace) {
    if (grace == 0)
        return "Never \u2014 always skip";
    if (grace == 900)
        return "Up to 15 minutes late";
    if (grace == 3600)
        return "Up to 1 hour late";
    if (grace == 14400)
        return "Up to 4 hours late";
    return "Up to " + readable(grace) + " late";
}

int run(Arguments arguments) {
    bool asJson = false;
    for (const std::string& argument : arguments) {
        if (argument == "--json")
            asJson = true;
        else
            return usage("settings: unexpected argument \u201C" + argument + "\u201D");
    }
    SettingsStore store(SettingsStore::defaultFileURL());
    warnAbout(store.loadProblems());
    AppSettings settings = store.settings();
    if (asJson) {
        jsonOutput() << json::pretty(settings.toJson());
        return success;
    }
    std::string endpoint = "none";
    if (settings.defaultEndpointID) {
        EndpointStore endpoints(EndpointStore::defaultFileURL());
        warnAbout(endpoints.loadProblems());
        auto found = endpoints.endpoint(settings.defaultEndpointID);
        endpoint = found ? found->name + " (" + found->id.text() + ")"
                         : settings.defaultEndpointID->text() + " (no such endpoint)";
    }
    std::cout << "Settings file: " << store.fileURL().string() << "\n"
              << "Default time limit: " << readable(settings.defaults.timeoutSeconds) << "\n"
              << "Notify: "
              << (settings.defaults.notifyOnFailureOnly ? "only when a run does not succeed"
                                                        : "after every run")
              << "\n"
              << "Default harness: " << settings.defaultHarnessID.value_or("none") << "\n"
              << "Default endpoint for new jobs: " << endpoint << "\n"
              << "Missed runs: " << catchUpText(settings.catchUpGraceSeconds) << "\n";
    return success;
}

const Command command{"settings", "settings [--json]", &run};

} // namespace
} // namespace marrowbell::ctl
