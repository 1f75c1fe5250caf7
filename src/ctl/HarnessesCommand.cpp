#include "Command.h"
#include "TerminalText.h"

#include "base/Json.h"
#include "harness/HarnessRegistry.h"
#include "harness/HarnessSummary.h"
#include "harness/ModelCatalog.h"
#include "harness/SkillCatalog.h"

#include <future>
#include <iostream>

namespace marrowbell::ctl {

namespace {

// What `harnesses` reports about one manifest harness.
struct HarnessReport {
    HarnessSpec spec;
    bool installed = false;
    std::optional<std::filesystem::path> executable = {}; // past shims
    std::optional<std::vector<ModelOption>> models = {};  // none when not installed
    std::optional<std::vector<Skill>> skills = {};        // none without skills or not installed

    std::optional<int> modelCount() const {
        return models ? std::optional<int>(static_cast<int>(models->size())) : std::nullopt;
    }
    std::optional<int> skillCount() const {
        return skills ? std::optional<int>(static_cast<int>(skills->size())) : std::nullopt;
    }
};

HarnessReport report(const HarnessRegistry& registry, const HarnessSpec& spec) {
    HarnessReport report{.spec = spec};
    report.installed = registry.isInstalled(spec);
    if (!report.installed)
        return report;
    try {
        report.executable = registry.resolveExecutable(spec);
    } catch (const HarnessError&) {
        return report;
    }
    report.models = ModelCatalog::models(spec.models, report.executable);
    if (spec.skills)
        report.skills = SkillCatalog::skills(spec.skills->source, report.executable);
    return report;
}

Json asJson(const HarnessReport& report) {
    Json object = {
        {"id", report.spec.id},
        {"displayName", report.spec.displayName},
        {"installed", report.installed},
        {"summary", HarnessSummary::line(report.spec, report.skillCount(), report.modelCount())}};
    if (report.executable)
        object["executable"] = report.executable->string();
    if (report.models) {
        Json ids = Json::array();
        for (const ModelOption& model : *report.models)
            ids.push_back(model.id);
        object["models"] = ids;
    }
    if (report.skills) {
        Json ids = Json::array();
        for (const Skill& skill : *report.skills)
            ids.push_back(skill.id);
        object["skills"] = ids;
    }
    return object;
}

void printText(const HarnessReport& report) {
    std::cout << report.spec.displayName << " (" << report.spec.id << "): ";
    if (!report.installed)
        std::cout << "not installed\n";
    else if (report.executable)
        std::cout << report.executable->string() << "\n";
    else
        std::cout << "installed\n";
    std::cout << "  " << HarnessSummary::line(report.spec, report.skillCount(), report.modelCount())
              << "\n";
    if (report.models && !report.models->empty()) {
        std::cout << "  models:";
        for (const ModelOption& model : *report.models)
            std::cout << " " << model.label();
        std::cout << "\n";
    }
    if (report.skills && !report.skills->empty()) {
        std::cout << "  skills:";
        for (const Skill& skill : *report.skills)
            std::cout << " " << skill.id;
        std::cout << "\n";
    }
}

int harnesses(Arguments arguments) {
    bool json = false;
    for (const std::string& argument : arguments) {
        if (argument == "--json")
            json = true;
        else if (argument.starts_with("-"))
            return unknownOption(argument);
        else
            return usage("harnesses takes no arguments but --json");
    }
    HarnessRegistry registry = HarnessRegistry::bundled();
    // A scheduled run sees the login shell's PATH too; so should this listing.
    registry.environment()->prime(5);

    // Listings run the harnesses themselves, each possibly slow: ask all at once.
    std::vector<std::future<HarnessReport>> pending;
    for (const HarnessSpec& spec : registry.specs())
        pending.push_back(
            std::async(std::launch::async, [&registry, &spec] { return report(registry, spec); }));
    std::vector<HarnessReport> reports;
    for (auto& each : pending)
        reports.push_back(each.get());

    if (json) {
        Json list = Json::array();
        for (const HarnessReport& each : reports)
            list.push_back(asJson(each));
        jsonOutput() << json::pretty(list);
    } else {
        for (const HarnessReport& each : reports)
            printText(each);
    }
    return success;
}

const Command command{
    "harnesses",
    Help{Group::running, "the agent tools: installed or not, where, their models and skills",
         "harnesses [--json]", "  --json                as JSON", "marrowbellctl harnesses"},
    &harnesses};

} // namespace

} // namespace marrowbell::ctl
