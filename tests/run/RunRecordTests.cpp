#include "run/RunRecord.h"

#include <functional>
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
    for (auto change : std::vector<std::function<void(RunRecord&)>>{
             [](RunRecord& r) { r.exitCode = 2; }, [](RunRecord& r) { r.exitCode = -1; },
             [](RunRecord& r) { r.timedOut = true; }, [](RunRecord& r) { r.wasCancelled = true; },
             [](RunRecord& r) { r.failureMessage = ""; }}) {
        RunRecord changed = r;
        change(changed);
        EXPECT_FALSE(changed.succeeded()) << changed.toJson().dump();
    }
}

// Each change below is of a higher case than the ones before it.
TEST(RunRecord, OutcomeAndSummaryTakeTheFirstMatchingCase) {
    RunRecord r = finished(303.9); // whole seconds beyond a minute, rounded below it
    EXPECT_EQ(r.summary(), "Finished.");
    r.resultText = "";
    EXPECT_EQ(r.summary(), "Finished.");
    r.resultText = "All tests pass.";
    EXPECT_EQ(r.summary(), "All tests pass.");
    r.warning = "2 files skipped";
    EXPECT_EQ(r.summary(), "2 files skipped");
    EXPECT_EQ(r.outcomeSummary(), "Finished in 5m 3s");
    r.failureMessage = "Exited with 1";
    EXPECT_EQ(r.summary(), "Exited with 1");
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

struct DetailCase {
    const char* name;
    std::optional<std::string> result, failure, warning;
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

const std::nullopt_t none = std::nullopt;
const std::string cut = "\u2026";

// The head is the failure, else the result (even empty), else "Finished."; the body is cut
// at the last space within the limit, trailing blanks dropped, counting user-perceived
// characters: accents (combining), flags and joined emoji each count once.
INSTANTIATE_TEST_SUITE_P(
    RunRecord, NotificationDetail,
    testing::Values(
        DetailCase{"nothing", none, none, none, 300, "Finished."},
        DetailCase{"emptyResult", "", none, "Skipped two files", 300, "Skipped two files"},
        DetailCase{"failureFirst", "Done", "Exited with 1", "Partial", 300,
                   "Exited with 1\n\nPartial"},
        DetailCase{"trimmed", "\n  Done.\t\n", none, none, 300, "Done."},
        DetailCase{"atLastSpace", "alpha bravo charl", none, none, 10, "alpha" + cut},
        DetailCase{"noSpace", "abcdefghijklmn", none, none, 10, "abcdefghij" + cut},
        DetailCase{"blanksDropped", "hello     world", none, none, 8, "hello" + cut},
        DetailCase{"exactlyTheLimit", "exactly10!", none, none, 10, "exactly10!"},
        DetailCase{"atANewline", "Line one\n\nline two", none, none, 10, "Line" + cut},
        DetailCase{"zeroLimit", "abc", none, none, 0, cut},
        DetailCase{"combining", "e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301", none, none, 4,
                   "e\u0301e\u0301e\u0301e\u0301" + cut},
        DetailCase{"flags", "\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA\U0001F1EF\U0001F1F5", none,
                   none, 2, "\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA" + cut},
        DetailCase{"joinedEmoji", "\U0001F468\u200D\U0001F469\u200D\U0001F467 ok", none, none, 4,
                   "\U0001F468\u200D\U0001F469\u200D\U0001F467 ok"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunRecord, JsonRoundTripsEveryFieldAndLeavesOutAbsentOptionals) {
    RunRecord full = finished(12.25);
    full.exitCode = -15;
    full.timedOut = full.wasCancelled = true;
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

    // Non-finite numbers are written as zero so the file still decodes.
    RunRecord infinite = finished(std::numeric_limits<double>::infinity());
    infinite.startedAt = Instant{std::numeric_limits<double>::quiet_NaN()};
    RunRecord back = RunRecord::fromJson(*json::parse(json::pretty(infinite.toJson())));
    EXPECT_EQ(back.duration, 0);
    EXPECT_EQ(back.startedAt, Instant{0});
}

TEST(RunRecord, DecodingDefaultsTheIdentifierAndCancellation) {
    Json o = finished().toJson();
    o.erase("id");
    o.erase("wasCancelled");
    o["resultText"] = nullptr;
    RunRecord a = RunRecord::fromJson(o);
    EXPECT_FALSE(a.wasCancelled);
    EXPECT_FALSE(a.resultText);
    EXPECT_NE(a.id, RunRecord::fromJson(o).id) << "each record without one gets a fresh one";
}

// Each value's type is checked by the shared readers; here, which values are required
// and the exit code's range.
TEST(RunRecord, DecodingRejectsMissingRequiredAndOutOfRangeValues) {
    const Json good = finished().toJson();
    auto rejects = [&](const char* key, std::optional<Json> value = std::nullopt) {
        Json bad = good;
        if (value)
            bad[key] = *value;
        else
            bad.erase(key);
        EXPECT_THROW(RunRecord::fromJson(bad), DecodeError) << bad.dump();
    };
    for (const char* key : {"jobID", "startedAt", "duration", "exitCode", "timedOut"})
        rejects(key);
    rejects("id", "not-a-uuid");
    rejects("exitCode", 4294967296LL);
    EXPECT_THROW(RunRecord::fromJson(Json::array()), DecodeError);
}
