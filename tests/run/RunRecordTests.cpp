#include "run/RunRecord.h"

#include <gtest/gtest.h>

using namespace marrowbell;

namespace {

RunRecord finished(Seconds duration = 42) {
    RunRecord r;
    r.jobID = *Uuid::parse("11111111-2222-4333-8444-555555555555");
    r.startedAt = Instant{800000000.5};
    r.duration = duration;
    return r;
}

} // namespace

TEST(RunRecord, SucceedsOnlyWithCleanExitAndNoFailure) {
    RunRecord r = finished();
    r.warning = "partly done";
    EXPECT_TRUE(r.succeeded()) << "a warning alone is still a success";

    auto fails = [](auto change) {
        RunRecord r = finished();
        change(r);
        return !r.succeeded();
    };
    EXPECT_TRUE(fails([](RunRecord& r) { r.exitCode = 2; }));
    EXPECT_TRUE(fails([](RunRecord& r) { r.exitCode = -1; }));
    EXPECT_TRUE(fails([](RunRecord& r) { r.timedOut = true; }));
    EXPECT_TRUE(fails([](RunRecord& r) { r.wasCancelled = true; }));
    EXPECT_TRUE(fails([](RunRecord& r) { r.failureMessage = ""; }));
}

TEST(RunRecord, OutcomeSummaryTakesTheFirstMatchingCase) {
    RunRecord r = finished(303);
    EXPECT_EQ(r.outcomeSummary(), "Finished in 5m 3s");
    r.warning = "careful";
    EXPECT_EQ(r.outcomeSummary(), "Finished in 5m 3s");
    r.failureMessage = "endpoint offline";
    EXPECT_EQ(r.outcomeSummary(), "Failed after 5m 3s") << "a failure message with exit code 0";
    r.failureMessage.reset();
    r.exitCode = 3;
    EXPECT_EQ(r.outcomeSummary(), "Failed after 5m 3s");
    r.timedOut = true;
    EXPECT_EQ(r.outcomeSummary(), "Stopped at its time limit after 5m 3s");
    r.wasCancelled = true;
    r.duration = 41.6;
    EXPECT_EQ(r.outcomeSummary(), "Cancelled after 42s");
}

TEST(RunRecord, SummaryPrefersFailureThenWarningThenNonEmptyResult) {
    RunRecord r = finished();
    EXPECT_EQ(r.summary(), "Finished.");
    r.resultText = "";
    EXPECT_EQ(r.summary(), "Finished.");
    r.resultText = "All tests pass.";
    EXPECT_EQ(r.summary(), "All tests pass.");
    r.warning = "2 files skipped";
    EXPECT_EQ(r.summary(), "2 files skipped");
    r.failureMessage = "Exited with 1";
    EXPECT_EQ(r.summary(), "Exited with 1");
}

struct DetailCase {
    std::optional<std::string> result;
    std::optional<std::string> failure;
    std::optional<std::string> warning;
    int limit;
    std::string expected;
};

class NotificationDetail : public testing::TestWithParam<DetailCase> {};

TEST_P(NotificationDetail, BuildsTrimsAndCutsTheBody) {
    const DetailCase& c = GetParam();
    RunRecord r = finished();
    r.resultText = c.result;
    r.failureMessage = c.failure;
    r.warning = c.warning;
    EXPECT_EQ(r.notificationDetail(c.limit), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    RunRecord, NotificationDetail,
    testing::Values(
        // Head: failure, else the result (even empty), else "Finished.".
        DetailCase{std::nullopt, std::nullopt, std::nullopt, 300, "Finished."},
        DetailCase{"", std::nullopt, "Skipped two files", 300, "Skipped two files"},
        DetailCase{"Done", "Exited with 1", "Partial output", 300,
                   "Exited with 1\n\nPartial output"},
        DetailCase{"\n  Done.\t\n", std::nullopt, std::nullopt, 300, "Done."},
        // Cut at the last space within the limit, trailing blanks dropped.
        DetailCase{"alpha bravo charl", std::nullopt, std::nullopt, 10, "alpha\u2026"},
        DetailCase{"abcdefghijklmn", std::nullopt, std::nullopt, 10, "abcdefghij\u2026"},
        DetailCase{"hello     world", std::nullopt, std::nullopt, 8, "hello\u2026"},
        DetailCase{"exactly10!", std::nullopt, std::nullopt, 10, "exactly10!"},
        DetailCase{"Line one\n\nline two", std::nullopt, std::nullopt, 10, "Line\u2026"},
        DetailCase{"abc", std::nullopt, std::nullopt, 0, "\u2026"},
        // User-perceived characters: accented letters (precomposed and combining),
        // flags and joined emoji each count once however many bytes they take.
        DetailCase{"e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301", std::nullopt, std::nullopt, 4,
                   "e\u0301e\u0301e\u0301e\u0301\u2026"},
        DetailCase{"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA\U0001F1EF\U0001F1F5", std::nullopt,
                   std::nullopt, 2, "\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA\u2026"},
        DetailCase{"\U0001F468\u200D\U0001F469\u200D\U0001F467 ok", std::nullopt, std::nullopt, 4,
                   "\U0001F468\u200D\U0001F469\u200D\U0001F467 ok"}));

TEST(RunRecord, JsonRoundTripsEveryFieldAndLeavesOutAbsentOptionals) {
    RunRecord full = finished(12.25);
    full.exitCode = -15;
    full.timedOut = true;
    full.wasCancelled = true;
    full.inputTokens = 1234567890123;
    full.outputTokens = 0;
    full.resultText = "ok \"quoted\" ä";
    full.failureMessage = "bad";
    full.warning = "warn";
    EXPECT_EQ(RunRecord::fromJson(full.toJson()), full);

    RunRecord bare = finished();
    Json written = bare.toJson();
    EXPECT_EQ(RunRecord::fromJson(written), bare);
    for (const char* absent :
         {"inputTokens", "outputTokens", "resultText", "failureMessage", "warning"})
        EXPECT_FALSE(written.contains(absent)) << absent;
    EXPECT_EQ(written["jobID"], "11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(written["id"], bare.id.text());
    EXPECT_EQ(written["startedAt"], 800000000.5);
    EXPECT_EQ(written["wasCancelled"], false);
}

TEST(RunRecord, DecodingDefaultsTheIdentifierAndCancellation) {
    Json o = finished().toJson();
    o.erase("id");
    o.erase("wasCancelled");
    RunRecord a = RunRecord::fromJson(o);
    RunRecord b = RunRecord::fromJson(o);
    EXPECT_FALSE(a.wasCancelled);
    EXPECT_NE(a.id, b.id) << "each record without an identifier gets a fresh one";
    o["resultText"] = nullptr;
    EXPECT_FALSE(RunRecord::fromJson(o).resultText);
}

TEST(RunRecord, DecodingRejectsMissingRequiredAndMistypedValues) {
    const Json good = finished().toJson();
    for (const char* key : {"jobID", "startedAt", "duration", "exitCode", "timedOut"}) {
        Json missing = good;
        missing.erase(key);
        EXPECT_THROW(RunRecord::fromJson(missing), DecodeError) << key << " missing";
        Json null = good;
        null[key] = nullptr;
        EXPECT_THROW(RunRecord::fromJson(null), DecodeError) << key << " null";
    }
    auto rejects = [&](const char* key, Json value) {
        Json bad = good;
        bad[key] = std::move(value);
        EXPECT_THROW(RunRecord::fromJson(bad), DecodeError) << key << " = " << bad[key].dump();
    };
    rejects("id", "not-a-uuid");
    rejects("jobID", 5);
    rejects("startedAt", "yesterday");
    rejects("exitCode", 1.5);
    rejects("exitCode", 4294967296LL);
    rejects("timedOut", 0);
    rejects("wasCancelled", "no");
    rejects("inputTokens", "12");
    rejects("warning", false);
    EXPECT_THROW(RunRecord::fromJson(Json::array()), DecodeError);
}

TEST(RunRecord, NonFiniteNumbersAreWrittenAsZeroSoTheFileStillDecodes) {
    RunRecord r = finished(std::numeric_limits<double>::infinity());
    r.startedAt = Instant{std::numeric_limits<double>::quiet_NaN()};
    Json written = *json::parse(json::pretty(r.toJson()));
    RunRecord back = RunRecord::fromJson(written);
    EXPECT_EQ(back.duration, 0);
    EXPECT_EQ(back.startedAt, Instant{0});
}
