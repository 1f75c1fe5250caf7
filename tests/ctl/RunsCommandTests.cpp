#include "base/Json.h"
#include "base/TimeZone.h"
#include "job/JobStore.h"
#include "run/RunHistory.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

Instant at(int day, int hour, int minute) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, day, hour, minute, 0});
}

RunRecord run(const Job& job, Instant startedAt, double duration) {
    RunRecord r;
    r.jobID = job.id;
    r.startedAt = startedAt;
    r.duration = duration;
    return r;
}

// A support folder with two jobs, a run of a job since deleted, and a history.
class RunsCommand : public testing::Test {
protected:
    test::TempDir data;
    fs::path support = data / "Marrowbell";
    Job review = test::makeJob("Nightly review");
    Job docs = test::makeJob("Docs sweep");

    void SetUp() override {
        JobStore store(support / "Jobs");
        store.save(review);
        store.save(docs);
    }

    void record(std::vector<RunRecord> runs) {
        RunHistory history(support / "runs.json");
        for (auto& r : runs)
            history.record(std::move(r));
    }

    test::ProcessResult ctl(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), test::builtBinary("marrowbellctl").string());
        return test::runProcess(arguments, "",
                                {"XDG_DATA_HOME=" + data.path().string(), "TZ=UTC", "LANG=C"});
    }
};

} // namespace

TEST_F(RunsCommand, ListsEveryRunNewestFirstWithOutcomeAndSummary) {
    RunRecord failed = run(review, at(10, 9, 0), 303);
    failed.exitCode = 1;
    failed.failureMessage = "The harness exited with status 1.";
    RunRecord done = run(docs, at(10, 12, 30), 42);
    done.resultText = "Fixed two links.\nUpdated the index.\n";
    Job gone = test::makeJob("Gone");
    record({failed, run(gone, at(9, 8, 0), 5), done});

    auto result = ctl({"runs"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "2026-03-10 12:30  Docs sweep  Finished in 42s\n"
                          "    Fixed two links.\n"
                          "    Updated the index.\n"
                          "2026-03-10 09:00  Nightly review  Failed after 5m 3s\n"
                          "    The harness exited with status 1.\n"
                          "2026-03-09 08:00  deleted job " +
                              gone.id.text() +
                              "  Finished in 5s\n"
                              "    Finished.\n");
}

TEST_F(RunsCommand, JobArgumentIsANameOrAnIdentifier) {
    RunRecord warned = run(review, at(10, 9, 0), 61);
    warned.warning = "Skipped the vendored folder.";
    record({run(docs, at(10, 8, 0), 1), warned, run(review, at(9, 9, 0), 2)});
    const std::string expected = "2026-03-10 09:00  Finished in 1m 1s\n"
                                 "    Skipped the vendored folder.\n"
                                 "2026-03-09 09:00  Finished in 2s\n"
                                 "    Finished.\n";
    std::string lowerId = review.id.text();
    for (char& c : lowerId)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& argument : {std::string("nightly REVIEW"), lowerId}) {
        auto result = ctl({"runs", argument});
        EXPECT_EQ(result.exitStatus, 0) << argument << ": " << result.err;
        EXPECT_EQ(result.out, expected) << argument;
    }
}

TEST_F(RunsCommand, JsonListsRecordsWithTheirTexts) {
    RunRecord cancelled = run(review, at(10, 9, 0), 7);
    cancelled.wasCancelled = true;
    cancelled.inputTokens = 1200;
    record({run(docs, at(10, 8, 0), 1), cancelled});

    auto result = ctl({"runs", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    auto document = json::parse(result.out);
    ASSERT_TRUE(document && document->is_array() && document->size() == 2) << result.out;
    const Json& newest = (*document)[0];
    EXPECT_EQ(newest["id"], cancelled.id.text());
    EXPECT_EQ(newest["jobID"], review.id.text());
    EXPECT_EQ(newest["jobName"], "Nightly review");
    EXPECT_EQ(newest["outcomeSummary"], "Cancelled after 7s");
    EXPECT_EQ(newest["summary"], "Finished.");
    EXPECT_EQ(newest["succeeded"], false);
    EXPECT_EQ(newest["inputTokens"], 1200);
    EXPECT_EQ(newest["startedAt"], at(10, 9, 0).sinceReference);
    EXPECT_EQ((*document)[1]["succeeded"], true);

    auto one = ctl({"runs", "--json", "Docs sweep"});
    ASSERT_EQ(one.exitStatus, 0) << one.err;
    EXPECT_EQ(json::parse(one.out)->size(), 1u);
}

TEST_F(RunsCommand, EmptyHistoriesSaySoWithoutCreatingAnything) {
    auto all = ctl({"runs"});
    EXPECT_EQ(all.exitStatus, 0) << all.err;
    EXPECT_EQ(all.out, "No runs yet.\n");
    EXPECT_EQ(ctl({"runs", "Docs sweep"}).out, "No runs of \"Docs sweep\" yet.\n");
    EXPECT_EQ(ctl({"runs", "--json"}).out, "[]\n");
    EXPECT_FALSE(fs::exists(support / "runs.json"));

    test::TempDir empty;
    auto bare = test::runProcess({test::builtBinary("marrowbellctl").string(), "runs"}, "",
                                 {"XDG_DATA_HOME=" + empty.path().string()});
    EXPECT_EQ(bare.exitStatus, 0) << bare.err;
    EXPECT_FALSE(fs::exists(empty / "Marrowbell"));
}

// Which job an argument names is NameLookup's (its tests); here the refusal's wiring.
TEST_F(RunsCommand, UnknownJobsAreUsageErrors) {
    auto unknown = ctl({"runs", "Weekly report"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err,
              "marrowbellctl: no job is named or identified by \u201CWeekly report\u201D\n");
    EXPECT_EQ(ctl({"runs", Uuid::random().text()}).exitStatus, 2);
}

TEST_F(RunsCommand, FiltersByOutcomeTimeAndCount) {
    RunRecord failed = run(review, at(10, 9, 0), 3);
    failed.exitCode = 1;
    RunRecord older = failed;
    older.startedAt = at(8, 9, 0);
    record({older, failed, run(docs, at(10, 12, 30), 42), run(docs, at(11, 1, 0), 1)});

    auto result = ctl({"runs", "--failed", "--since", "2026-03-09T00:00:00Z", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    auto listed = json::parse(result.out);
    ASSERT_TRUE(listed && listed->size() == 1) << result.out;
    EXPECT_EQ((*listed)[0]["startedAt"], failed.startedAt.sinceReference);
    listed = json::parse(ctl({"runs", "Docs sweep", "--limit", "1", "--json"}).out);
    ASSERT_TRUE(listed && listed->size() == 1);
    EXPECT_EQ((*listed)[0]["startedAt"], at(11, 1, 0).sinceReference);
    EXPECT_EQ(ctl({"runs", "--failed", "--since", "@2000000000"}).out, "No runs match.\n");
    EXPECT_EQ(ctl({"runs", "--limit", "0"}).exitStatus, 2);
    EXPECT_EQ(ctl({"runs", "--since", "yesterday"}).exitStatus, 2);
}

TEST_F(RunsCommand, BadCommandLinesAreUsageErrors) {
    EXPECT_EQ(ctl({"runs", "--verbose"}).exitStatus, 2);
    EXPECT_EQ(ctl({"runs", "Docs sweep", "Nightly review"}).exitStatus, 2);
    Job dashed = test::makeJob("-dashed");
    JobStore(support / "Jobs").save(dashed);
    EXPECT_EQ(ctl({"runs", "--", "-dashed"}).exitStatus, 0);
}

TEST_F(RunsCommand, ControlCharactersFromAgentsAreNotSentToTheTerminal) {
    RunRecord r = run(docs, at(10, 8, 0), 1);
    r.resultText = "done\x1b]0;pwned\x07 \x1b[2J \xc2\x9b"
                   "1m \u202Egnp.exe";
    record({r});
    auto result = ctl({"runs", "Docs sweep"});
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("done\\u001B]0;pwned\\u0007 \\u001B[2J \\u009B1m \\u202Egnp.exe"),
              std::string::npos)
        << result.out;
}
