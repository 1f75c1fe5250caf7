#include "job/PanelEmptyState.h"

#include <gtest/gtest.h>

using namespace marrowbell;

TEST(PanelEmptyState, JobsHideItElseItSaysWhatIsMissing) {
    EXPECT_FALSE(PanelEmptyState::state(3, {}, {"Claude Code"}));
    EXPECT_EQ(PanelEmptyState::state(0, {"claude"}, {"Claude Code"})->kind,
              PanelEmptyState::Kind::noJobs);
    EXPECT_EQ(PanelEmptyState::state(0, {"claude"}, {})->message(),
              "No jobs yet. Create one to get started.");
    // Without a harness it names the known tools as an "or" list.
    auto message = [](std::vector<std::string> known) {
        return PanelEmptyState::state(0, {}, known)->message("en_US");
    };
    EXPECT_EQ(message({}), "No agent tool found. Install one to get started.");
    EXPECT_EQ(message({"Claude Code"}),
              "No agent tool found. Marrowbell runs Claude Code — install one, then create a job.");
    EXPECT_EQ(
        message({"Claude Code", "Codex"}),
        "No agent tool found. Marrowbell runs Claude Code or Codex — install one, then create a "
        "job.");
    EXPECT_EQ(orList({"Claude Code", "Codex", "opencode", "Pi"}, "en_US"),
              "Claude Code, Codex, opencode, or Pi");
}
