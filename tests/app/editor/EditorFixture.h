#pragma once

#include <QSettings>

#include "endpoint/Endpoint.h"
#include "job/Job.h"
#include "job/JobStore.h"
#include "settings/EndpointStore.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <memory>
#include <string>

namespace marrowbell::test {

// A user of their own: home, data, configuration and runtime folders in a fresh
// temporary folder (preferences too), and stand-in harness tools in "~/.local/bin", where the
// shipped manifest looks for them.
class EditorHome {
public:
    EditorHome()
        : home_("HOME", root.path().string())
        , data_("XDG_DATA_HOME", (root / "data").string())
        , config_("XDG_CONFIG_HOME", (root / "config").string())
        , runtime_("XDG_RUNTIME_DIR", (root / "runtime").string())
        , shell_("SHELL", "/bin/false") {
        std::filesystem::create_directories(root / "runtime");
        std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString((root / "config").string()));
        std::filesystem::create_directories(root / "project");
        std::filesystem::create_directories(root / "plain");
        // A real repository where git is installed; a bare ".git" entry elsewhere.
        if (runProcess({"/bin/sh", "-c", "git init -q \"$0\"", (root / "project").string()})
                .exitStatus != 0)
            std::filesystem::create_directories(root / "project/.git");
    }

    // A stand-in tool printing `output` whatever it is asked, after `delay` seconds.
    void tool(const std::string& name, const std::string& output = "", double delay = 0) const {
        writeFile(root / ".local/bin" / name,
                  "#!/bin/sh\nsleep " + std::to_string(delay) + "\ncat <<'EOF'\n" + output +
                      "\nEOF\n",
                  true);
    }
    // Claude Code's help, which names its model aliases.
    void claude(double delay = 0) const {
        tool("claude",
             "  --model <model>   Model for the current session. Provide an alias for the\n"
             "                    latest model (e.g. 'opus' or 'sonnet') or a full name.",
             delay);
    }
    void codex(double delay = 0) const {
        tool("codex", R"({"models": [{"slug": "gpt-5-codex"}, {"slug": "gpt-5"}]})", delay);
    }

    void add(const Job& job) const { JobStore(JobStore::defaultDirectory()).save(job); }
    void add(const Endpoint& endpoint) const {
        EndpointStore(EndpointStore::defaultFileURL()).save(endpoint);
    }

    TempDir root;

private:
    // The scheduler's control socket is this user's own; no login shell adds its PATH.
    ScopedEnv home_, data_, config_, runtime_, shell_;
};

inline Endpoint makeEndpoint(const std::string& name, EndpointKind kind) {
    return Endpoint{Uuid::random(), name, *Endpoint::validated("http://127.0.0.1:9/v1"), kind};
}

} // namespace marrowbell::test
