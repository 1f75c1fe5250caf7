#include "editor/EditorFixture.h"
#include "editor/JobEditor.h"
#include "harness/CommandBuilder.h"
#include "job/JobTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace marrowbell::app {
namespace {

using test::makeEndpoint;
using Kind = SchedulePresetKind;

struct LoadCase {
    const char* cron;
    Kind kind;
    int interval, weekday, day, hour, minute; // what the controls show then
};

class ScheduleControlsLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(ScheduleControlsLoad, ShowsWhatTheControlsCanHoldAndLeavesTheRest) {
    ScheduleControls controls;
    controls.hour = 14;
    controls.minute = 25;
    controls.load(GetParam().cron);
    const LoadCase& c = GetParam();
    EXPECT_EQ(controls, (ScheduleControls{c.kind, c.interval, c.weekday, c.day, c.hour, c.minute}));
}

INSTANTIATE_TEST_SUITE_P(Shapes, ScheduleControlsLoad,
                         testing::Values(LoadCase{"0 9 * * 1-5", Kind::weekdays, 15, 1, 1, 9, 0},
                                         LoadCase{"*/20 * * * *", Kind::everyMinutes, 20, 1, 1, 14,
                                                  25},
                                         LoadCase{"0 */3 * * *", Kind::everyHours, 3, 1, 1, 14, 25},
                                         LoadCase{"5 7 * * 7", Kind::weekly, 15, 0, 1, 7, 5},
                                         LoadCase{"30 6 31 * *", Kind::monthly, 15, 1, 31, 6, 30},
                                         // The stepper cannot show these: the text stays as typed.
                                         LoadCase{"*/75 * * * *", Kind::custom, 15, 1, 1, 14, 25},
                                         LoadCase{"0 */30 * * *", Kind::custom, 15, 1, 1, 14, 25},
                                         LoadCase{"0 25 * * *", Kind::custom, 15, 1, 1, 14, 25},
                                         LoadCase{"", Kind::custom, 15, 1, 1, 14, 25}));

TEST(ScheduleControlsCron, FollowsTheControlsExceptForCustom) {
    ScheduleControls controls{Kind::monthly, 15, 1, 3, 7, 5};
    EXPECT_EQ(controls.cron(), "5 7 3 * *");
    controls.kind = Kind::custom;
    EXPECT_EQ(controls.cron(), std::nullopt);
}

class JobEditorTest : public testing::Test {
protected:
    JobEditorTest() {
        std::filesystem::create_directories(folder / "plain");
        std::filesystem::create_directories(folder / "repo/.git");
    }

    EditorContext context(std::optional<Job> editing = std::nullopt) const {
        EditorContext context;
        context.registry = HarnessRegistry::load(MARROWBELL_SOURCE_DIR "/resources/harnesses.json");
        context.installedHarnessIDs = {"claude", "opencode"};
        context.defaultHarnessID = "claude";
        context.endpoints = endpoints;
        context.editingJob = std::move(editing);
        context.compatibility = [registry = *context.registry](const std::string& harness,
                                                               const Endpoint& endpoint) {
            return CommandBuilder::compatibility(registry.spec(harness), endpoint, std::nullopt);
        };
        return context;
    }

    // An editor with everything filled in that saving needs.
    JobEditor complete(std::optional<Job> editing = std::nullopt) const {
        JobEditor editor(context(std::move(editing)), 10, 0);
        editor.draft.name = "Morning brief";
        editor.draft.prompt = "Summarise the commits of yesterday.";
        editor.draft.workingDirectory = FileUrl::fromPath(folder / "plain", true);
        return editor;
    }

    test::TempDir folder;
    std::vector<Endpoint> endpoints;
};

// A bad schedule and the first run's date: the window's test.
TEST_F(JobEditorTest, FooterNamesTheFirstThingStandingInTheWay) {
    const std::string notInstalled = " is not installed. Install it, or pick another harness "
                                     "under Advanced.";
    const std::vector<std::pair<std::function<void(Draft&)>, std::string>> rows{
        {[](Draft& d) { d.harnessID = "codex", d.name = ""; }, "Codex" + notInstalled},
        {[](Draft& d) { d.harnessID = "aider"; }, "aider" + notInstalled},
        {[](Draft& d) { d.name = d.cron = ""; }, "Name this job to schedule it."},
        // A blank name is a name.
        {[](Draft& d) { d.name = "  ", d.workingDirectory.reset(); },
         "Choose the folder this job runs in."},
        {[](Draft& d) { d.prompt = " \n"; }, "The prompt is empty."}};
    for (const auto& [change, message] : rows) {
        JobEditor editor = complete();
        change(editor.draft);
        EXPECT_EQ(editor.footerMessage(Instant::now(), [](Instant) { return "x"; }), message);
    }
    Job job = test::makeJob("Nightly", "0 9 * * *"); // nothing missing: no line
    job.workingDirectory = FileUrl::fromPath(folder / "plain", true);
    EXPECT_EQ(
        JobEditor(context(job), 10, 0).footerMessage(Instant::now(), [](Instant) { return "x"; }),
        std::nullopt);
}

// Each change of the complete draft, and what it changes in the job saved.
TEST_F(JobEditorTest, SavingMakesTheJobTheSharedChecksMake) {
    Job base = test::makeJob("Old", "0 9 * * *");
    base.timeZoneIdentifier = "Asia/Tokyo";
    base.isPaused = true;
    base.limitOverrides.timeoutSeconds = 600;
    base.resumedAt = Instant{900000000};
    const std::vector<std::pair<std::function<void(Draft&)>, std::function<void(Job&)>>> rows{
        {[](Draft&) {}, [](Job&) {}},
        {[](Draft& d) { d.name = ""; }, [](Job& j) { j.name = "Untitled job"; }},
        {[](Draft& d) { d.name = d.model = "  "; }, [](Job& j) { j.name = *(j.model = "  "); }},
        {[](Draft& d) {
             d.enabledSkills = {"b", "a"};
         },
         [](Job& j) {
             j.skills = {"a", "b"};
         }}};
    for (const auto& [change, expect] : rows) {
        JobEditor editor = complete(base);
        change(editor.draft);
        const std::optional<Job> job = editor.jobToSave(Instant{950000000});
        ASSERT_TRUE(job);
        Job expected = base;
        expected.name = "Morning brief";
        expected.prompt = editor.draft.prompt;
        expected.workingDirectory = *editor.draft.workingDirectory;
        expect(expected);
        EXPECT_EQ(*job, expected);
        // The command line's checks make the very same job of the same input.
        const JobDraft::Context checks{*editor.context().registry, {}, {}, std::nullopt};
        EXPECT_EQ(editor.draft.checkable(base).check(checks, Instant{950000000}).job, job);
    }
    // What the checks refuse is not saved.
    for (auto change : std::vector<std::function<void(Draft&)>>{
             [](Draft& d) { d.cron = "61 * * * *"; }, [](Draft& d) { d.workingDirectory.reset(); },
             [](Draft& d) { d.prompt = ""; }}) {
        JobEditor editor = complete();
        change(editor.draft);
        EXPECT_FALSE(editor.jobToSave(Instant::now()));
    }
    // A new job takes the system's zone and no overrides.
    test::ScopedEnv zone("TZ", "America/Denver");
    const std::optional<Job> job = complete().jobToSave(Instant{5});
    ASSERT_TRUE(job);
    EXPECT_EQ(job->timeZoneIdentifier, "America/Denver");
    EXPECT_EQ(job->createdAt, Instant{5});
    EXPECT_FALSE(job->isPaused || job->hasOverriddenLimits() || job->resumedAt);
}

// {folder (none: not chosen), lands in a worktree, a part of the description telling the
// cases apart, worktree title}
using FolderCase = std::tuple<const char*, std::optional<bool>, const char*, bool>;

class JobEditorFolder : public JobEditorTest, public testing::WithParamInterface<FolderCase> {};

TEST_P(JobEditorFolder, DescribesWhereScopedWritesLand) {
    const auto& [chosen, landsInWorktree, description, worktreeTitle] = GetParam();
    JobEditor editor = complete();
    editor.draft.workingDirectory.reset();
    if (chosen)
        editor.draft.workingDirectory = FileUrl::fromPath(folder / chosen, true);
    EXPECT_THAT(editor.folderDescription(landsInWorktree), testing::HasSubstr(description));
    EXPECT_EQ(editor.permissionTitle(PermissionLevel::scopedWrite, landsInWorktree),
              worktreeTitle ? "Write in a worktree (scoped write)"
                            : "Write in this folder only (scoped write)");
}

INSTANTIATE_TEST_SUITE_P(
    Folders, JobEditorFolder,
    testing::Values(
        FolderCase{nullptr, std::nullopt, "Pick the folder", false},
        FolderCase{"repo", true, "repository — scoped writes land in a throwaway", true},
        FolderCase{"repo", std::nullopt, "land in a throwaway worktree", true},
        FolderCase{"repo", false, "repository — scoped writes land in this folder; commit", false},
        FolderCase{"plain", false, "Not a repository", false}));

TEST_F(JobEditorTest, PermissionNotesFollowTheHarnessEnforcement) {
    JobEditor editor = complete();
    editor.draft.permission = PermissionLevel::fullAccess;
    EXPECT_EQ(editor.permissionNote().icon, JobEditor::Note::Icon::warning);
    editor.draft.harnessID = "opencode"; // confined by the operating system
    EXPECT_EQ(editor.permissionNote().icon, JobEditor::Note::Icon::shield);
    editor.draft.permission = PermissionLevel::scopedWrite;
    EXPECT_EQ(editor.permissionNote(),
              (JobEditor::Note{JobEditor::Note::Icon::none,
                               std::string(explanation(LimitEnforcement::operatingSystem))}));
    editor.draft.harnessID = "aider";
    EXPECT_EQ(editor.permissionNote(), JobEditor::Note{});
}

TEST_F(JobEditorTest, AProviderMissingEndpointGetsALineOfItsOwn) {
    endpoints = {makeEndpoint("Studio", EndpointKind::lmStudio),
                 makeEndpoint("Farm", EndpointKind::ollama),
                 makeEndpoint("Other", EndpointKind::openAICompatible)};
    EditorContext with = context();
    with.compatibility = [](const std::string&, const Endpoint& endpoint) {
        if (endpoint.name == "Other")
            return EndpointCompatibility{EndpointCompatibility::WrongProtocol{
                EndpointProtocol::anthropic, EndpointProtocol::openAI}};
        return EndpointCompatibility{EndpointCompatibility::ProviderMissing{
            std::string(endpoint.name == "Studio" ? "lmstudio" : "ollama"), "~/.config/tool.json"}};
    };
    EXPECT_EQ(JobEditor(with, 9, 0).unusableEndpointsNote(),
              "Studio not shown — add a \"lmstudio\" provider to ~/.config/tool.json and Claude "
              "Code can reach it.\n"
              "Farm not shown — add a \"ollama\" provider to ~/.config/tool.json and Claude Code "
              "can reach it.");
}

TEST_F(JobEditorTest, ModelNotesSayWhereModelsComeFrom) {
    endpoints = {makeEndpoint("Proxy", EndpointKind::anthropicCompatible)};
    JobEditor editor = complete();
    EXPECT_EQ(editor.modelPlaceholder(), "Default for Claude Code");
    EXPECT_THAT(editor.modelNote(), testing::HasSubstr("configured for"));
    editor.availableModels = {{"opus", std::nullopt}};
    EXPECT_THAT(editor.modelNote(), testing::HasSubstr("current sign-in"));
    editor.draft.endpointID = endpoints[0].id;
    EXPECT_EQ(editor.modelPlaceholder(), "Model name");
    EXPECT_EQ(editor.modelNote(), "Served right now by Proxy.");
    editor.availableModels.clear();
    EXPECT_THAT(editor.modelNote(), testing::StartsWith("Proxy did not answer"));
}

TEST_F(JobEditorTest, SkillsFilterByNameOrSummaryAndCount) {
    JobEditor editor = complete();
    editor.draft.harnessID = "opencode";
    editor.skillDiscovery = Discovery<Skill>::answered({{"lint", "Lint", "Checks STYLE"},
                                                        {"pdf", "PDF", std::nullopt},
                                                        {"docs", "Docs", "Writes"}});
    EXPECT_EQ(editor.skillCountLine(), "none of 3");
    editor.skillFilter = "sty";
    ASSERT_EQ(editor.shownSkills().size(), 1u);
    editor.skillFilter = "D";
    EXPECT_EQ(editor.shownSkills().size(), 2u); // PDF by name, Docs by name
    editor.draft.enabledSkills = {"pdf", "docs"};
    EXPECT_EQ(editor.skillCountLine(), "2 of 3 enabled");
    EXPECT_EQ(editor.advancedSummary(),
              "opencode · default endpoint · 2 skills · limits from Settings");
}

TEST_F(JobEditorTest, LimitComesFromTheJobWhenItHasItsOwn) {
    EXPECT_EQ(complete().limitDescription(), "60 minutes · from Settings");
    Job own = test::makeJob();
    own.limitOverrides.timeoutSeconds = 899;
    EXPECT_EQ(complete(own).limitDescription(), "14 minutes · set for this job");
    EXPECT_EQ(complete(own).advancedSummary(),
              "Claude Code · default endpoint · no skills · own time limit");
}

// Name, prompt, schedule and offline policy stay out: the window's command test.
TEST_F(JobEditorTest, CommandKeyHasTheSixPartsOnly) {
    JobEditor editor = complete();
    editor.draft.enabledSkills = {"b", "a"};
    EXPECT_EQ(editor.draft.commandKey(),
              "claude||readOnly||" + (folder / "plain").string() + "|a,b");
}

} // namespace
} // namespace marrowbell::app
