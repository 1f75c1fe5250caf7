#include "base/TimeZone.h"
#include "ctl/SchedulerCommandSupport.h"

namespace marrowbell {
namespace {

Instant at(int day, int hour, int minute) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, day, hour, minute, 0});
}

// Two jobs and a history, with a run of a job since deleted.
class RunsCommand : public test::CtlTest {
protected:
    Job review = saved(test::makeJob("Nightly review"));
    Job docs = saved(test::makeJob("-docs"));

    RunRecord run(const Job& job, Instant startedAt, double duration, int exitCode = 0) {
        RunRecord r;
        r.jobID = job.id;
        r.startedAt = startedAt;
        r.duration = duration;
        r.exitCode = exitCode;
        return r;
    }
    void record(std::vector<RunRecord> runs) {
        RunHistory history(support() / "runs.json");
        for (auto& r : runs)
            history.record(std::move(r));
    }
};

TEST_F(RunsCommand, ListsRunsNewestFirstWithOutcomeAndSummary) {
    EXPECT_EQ(ctl({"runs", "Nightly review"}).out, "No runs of \"Nightly review\" yet.\n");
    EXPECT_FALSE(std::filesystem::exists(support() / "runs.json"));
    RunRecord failed = run(review, at(10, 9, 0), 303, 1);
    failed.failureMessage = "The harness exited with status 1.";
    RunRecord done = run(docs, at(10, 12, 30), 42);
    done.resultText = "Fixed two links.\nUpdated the index.\n";
    RunRecord warned = run(review, at(9, 9, 0), 61);
    warned.warning = "Skipped the vendored folder.";
    Job gone = test::makeJob("Gone");
    record({failed, run(gone, at(9, 8, 0), 5), done, warned});

    auto result = ctl({"runs"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "2026-03-10 12:30  -docs  Finished in 42s\n"
                          "    Fixed two links.\n"
                          "    Updated the index.\n"
                          "2026-03-10 09:00  Nightly review  Failed after 5m 3s\n"
                          "    The harness exited with status 1.\n"
                          "2026-03-09 09:00  Nightly review  Finished in 1m 1s\n"
                          "    Skipped the vendored folder.\n"
                          "2026-03-09 08:00  deleted job " +
                              gone.id.text() +
                              "  Finished in 5s\n"
                              "    Finished.\n");
    EXPECT_EQ(ctl({"runs", "nightly REVIEW"}).out, "2026-03-10 09:00  Failed after 5m 3s\n"
                                                   "    The harness exited with status 1.\n"
                                                   "2026-03-09 09:00  Finished in 1m 1s\n"
                                                   "    Skipped the vendored folder.\n");
    EXPECT_EQ(ctl({"runs", "--", "-docs"}).exitStatus, 0);
}

TEST_F(RunsCommand, JsonListsRecordsFilteredByOutcomeTimeAndCount) {
    RunRecord cancelled = run(review, at(10, 9, 0), 7);
    cancelled.wasCancelled = true;
    cancelled.inputTokens = 1200;
    RunRecord failed = run(review, at(10, 10, 0), 3, 1);
    RunRecord older = run(review, at(8, 9, 0), 3, 1);
    record({older, run(docs, at(10, 8, 0), 1), cancelled, failed, run(docs, at(11, 1, 0), 1)});

    auto document = Json::parse(ctl({"runs", "--json"}).out);
    ASSERT_EQ(document.size(), 5u);
    const Json& newest = document[2];
    EXPECT_EQ(newest["id"], cancelled.id.text());
    EXPECT_EQ(newest["jobID"], review.id.text());
    EXPECT_EQ(newest["jobName"], "Nightly review");
    EXPECT_EQ(newest["outcomeSummary"], "Cancelled after 7s");
    EXPECT_EQ(newest["summary"], "Finished.");
    EXPECT_EQ(newest["succeeded"], false);
    EXPECT_EQ(newest["inputTokens"], 1200);
    EXPECT_EQ(newest["startedAt"], at(10, 9, 0).sinceReference);
    EXPECT_EQ(document[0]["succeeded"], true);

    auto listed =
        Json::parse(ctl({"runs", "--failed", "--since", "2026-03-10T09:30:00Z", "--json"}).out);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]["startedAt"], failed.startedAt.sinceReference);
    listed = Json::parse(ctl({"runs", "--json", "--limit", "1", "--", "-docs"}).out);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]["startedAt"], at(11, 1, 0).sinceReference);
    EXPECT_EQ(ctl({"runs", "--failed", "--since", "@2000000000.5"}).out, "No runs match.\n");
}

} // namespace
} // namespace marrowbell
