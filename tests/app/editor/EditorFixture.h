#pragma once

#include "base/Json.h"
#include "endpoint/Endpoint.h"
#include "harness/HarnessRegistry.h"
#include "job/Job.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace marrowbell::test {

// The shipped manifest with skills given to two harnesses (opencode adds skills, pi
// toggles them) and its tools looked for only in a folder of stand-in scripts.
class EditorManifest {
public:
    explicit EditorManifest(std::string schedule = "0 9 * * 1-5") {
        std::ifstream shipped(std::string(MARROWBELL_SOURCE_DIR) + "/resources/harnesses.json");
        Json manifest = Json::parse(shipped);
        manifest["searchPaths"] = Json::array({tools.path().string()});
        manifest["defaults"]["schedule"] = schedule;
        for (Json& harness : manifest["harnesses"]) {
            if (harness["id"] == "opencode")
                harness["skills"] = {{"flag", "--skill"},
                                     {"repeatable", true},
                                     {"source", {{"kind", "command"}, {"arguments", {"skills"}}}}};
            if (harness["id"] == "pi")
                harness["skills"] = {{"flag", "--skills"},
                                     {"repeatable", false},
                                     {"style", "toggle"},
                                     {"template", "{skill}={enabled}"},
                                     {"source", {{"kind", "command"}, {"arguments", {"skills"}}}}};
        }
        writeFile(folder / "harnesses.json", manifest.dump(2));
    }

    // A stand-in tool that prints `skills` for "skills" and `models` for anything else,
    // after `delay` seconds.
    void install(const std::string& executable, const std::string& skills = "",
                 const std::string& models = "", double delay = 0) const {
        writeFile(tools / executable,
                  "#!/bin/sh\nsleep " + std::to_string(delay) +
                      "\nif [ \"$1\" = skills ]; then printf '%s' '" + skills +
                      "'; else printf '%s' '" + models + "'; fi\n",
                  true);
    }

    HarnessRegistry registry() const { return HarnessRegistry::load(folder / "harnesses.json"); }
    std::filesystem::path file() const { return folder / "harnesses.json"; }

    TempDir folder, tools;
};

inline Endpoint makeEndpoint(const std::string& name, EndpointKind kind) {
    return Endpoint{Uuid::random(), name, *Endpoint::validated("http://127.0.0.1:9/v1"), kind};
}

} // namespace marrowbell::test
