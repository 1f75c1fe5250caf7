#pragma once

#include "base/Instant.h"
#include "editor/Draft.h"
#include "editor/ScheduleControls.h"
#include "endpoint/Endpoint.h"
#include "harness/Discovery.h"
#include "harness/EndpointCompatibility.h"
#include "harness/HarnessRegistry.h"
#include "harness/ModelOption.h"
#include "harness/SkillCatalog.h"
#include "job/Job.h"
#include "settings/AppSettings.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace marrowbell::app {

// What the editor reads from the application: taken when it opens and whenever the
// application's jobs, endpoints, settings or installed harnesses change.
struct EditorContext {
    std::optional<HarnessRegistry> registry; // none when start-up failed
    std::vector<Endpoint> endpoints;         // in the application's order
    std::vector<Job> jobs;
    AppSettings settings;
    std::set<std::string> installedHarnessIDs;
    std::string defaultHarnessID;
    std::optional<Job> editingJob; // none for a new job
    // Whether the chosen harness can use an endpoint; compatible when not given.
    std::function<EndpointCompatibility(const std::string& harnessID, const Endpoint&)>
        compatibility;
};

// The job editor without its window: the draft, the schedule controls and the
// answers of the background queries, with every value and message derived from them.
class JobEditor {
public:
    // A note under the permission choice, with the icon it carries.
    struct Note {
        enum class Icon { none, shield, warning };
        Icon icon = Icon::none;
        std::string text;
        friend bool operator==(const Note&, const Note&) = default;
    };

    // Opens on the context's editing job, or a new job's draft; the schedule controls
    // read the draft's cron text, the time of day starting at `hour`:`minute` (now).
    JobEditor(EditorContext context, int hour, int minute);

    const EditorContext& context() const { return context_; }
    // Replaces what the application shows; the draft is left alone.
    void setContext(EditorContext context);

    Draft draft;
    ScheduleControls schedule;
    std::optional<Discovery<Skill>> skillDiscovery;
    std::vector<ModelOption> availableModels;
    std::string skillFilter;

    const std::optional<Job>& editingJob() const { return context_.editingJob; }
    bool isNew() const { return !context_.editingJob; }

    // After a control of the schedule changed: the draft's cron text follows the
    // controls (custom keeps its typed text).
    void rebuildCron();
    // The reason the cron text does not parse; none when it does.
    std::optional<std::string> scheduleError() const;
    // The next `count` fire times after `now` in the system's zone; empty when the text
    // does not parse.
    std::vector<Instant> upcoming(Instant now, int count = 3) const;

    std::optional<std::string> missingField() const;
    std::optional<std::string> missingHarness() const;
    // The first problem the shared job checks find that would stop saving (a folder
    // since removed, an endpoint the harness cannot use, an empty prompt…), as a sentence.
    std::optional<std::string> blockingProblem(Instant now) const;
    // The footer's message: the missing harness, a missing field, a blocking problem;
    // for a new job otherwise "Runs from " and the first fire time (`when` formats it).
    std::optional<std::string> footerMessage(Instant now,
                                             const std::function<std::string(Instant)>& when) const;
    // "Schedule" is disabled exactly while the harness is missing.
    bool canSchedule() const { return !missingHarness(); }
    // The job to hand to the application, or none when saving does nothing.
    std::optional<Job> jobToSave(Instant now) const;

    // A ".git" entry directly inside the chosen folder.
    bool isRepository() const;
    // `landsInWorktree`: whether a scoped-write run in the folder works in a worktree
    // of its own (none while not known yet).
    std::string folderDescription(std::optional<bool> landsInWorktree) const;
    std::string permissionTitle(PermissionLevel level, std::optional<bool> landsInWorktree) const;
    Note permissionNote() const;

    const HarnessSpec* harnessSpec() const;
    std::string harnessName() const;
    // Every manifest harness's label for the picker, " — not installed" appended to
    // those missing.
    std::string harnessLabel(const HarnessSpec& spec) const;
    bool isSandboxed() const;
    bool harnessSupportsSkills() const;

    std::vector<Endpoint> usableEndpoints() const;
    std::vector<Endpoint> unusableEndpoints() const;
    // Why the unusable endpoints are missing from the picker; empty when none is.
    std::string unusableEndpointsNote() const;
    const Endpoint* chosenEndpoint() const;

    std::string modelPlaceholder() const;
    // Under the model field: the hint while no model is offered, else where they come from.
    std::string modelNote() const;

    std::vector<Skill> shownSkills() const;
    std::string skillCountLine() const;
    std::string skillHint() const;
    std::string noSkillsText() const;

    std::string limitDescription() const;
    std::string advancedSummary() const;

private:
    EditorContext context_;
};

} // namespace marrowbell::app
