#include "run/LiveRuns.h"
#include "run/RunTranscript.h"
#include "run/TranscriptFolder.h"

#include "base/Files.h"
#include "run/JobRunnerTestSupport.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using Line = std::pair<OutputChannel, std::string>;

std::vector<Line> readAll(const fs::path& path, std::uint64_t end = UINT64_MAX,
                          std::size_t budget = 1 << 20) {
    std::vector<Line> lines;
    TranscriptReader reader(path, end);
    while (reader.read(budget, [&](OutputChannel channel, std::string_view text) {
        lines.emplace_back(channel, std::string(text));
    })) {
    }
    return lines;
}

TEST(RunTranscript, KeepsEveryLineWithItsChannel) {
    test::TempDir dir;
    const std::vector<Line> written{{OutputChannel::warning, "no sandbox for this harness"},
                                    {OutputChannel::standardOutput, R"({"type":"system"})"},
                                    {OutputChannel::standardError, "retrying in 1s"},
                                    {OutputChannel::standardOutput, ""},
                                    {OutputChannel::standardOutput, "tail\r"}};
    {
        RunTranscript transcript(dir / "run.log");
        for (const auto& [channel, text] : written)
            transcript.append(channel, text);
    }
    EXPECT_EQ(readAll(dir / "run.log"), written);
    // Small reads cut lines anywhere; the lines come out the same.
    EXPECT_EQ(readAll(dir / "run.log", UINT64_MAX, 3), written);
    struct stat status {};
    ASSERT_EQ(::stat((dir / "run.log").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(RunTranscript, AKilledWritersLastLineIsLeftOutAndAnEndIsHonoured) {
    test::TempDir dir;
    test::writeFile(dir / "run.log", "first\nstderr: second\nhalf a li");
    EXPECT_EQ(readAll(dir / "run.log"),
              (std::vector<Line>{{OutputChannel::standardOutput, "first"},
                                 {OutputChannel::standardError, "second"}}));
    EXPECT_EQ(readAll(dir / "run.log", 6),
              (std::vector<Line>{{OutputChannel::standardOutput, "first"}}));
}

TEST(RunTranscript, IsWrittenWhileTheRunGoesOnNotOnlyAtTheEnd) {
    test::TempDir dir;
    RunTranscript transcript(dir / "run.log");
    transcript.append(OutputChannel::standardOutput, "early");
    transcript.flush();
    EXPECT_EQ(*files::read(dir / "run.log"), "early\n");
    std::string big(RunTranscript::bufferLimit, 'x');
    transcript.append(OutputChannel::standardOutput, big); // a full buffer is written at once
    EXPECT_EQ(files::read(dir / "run.log")->size(), 6 + big.size() + 1);
}

struct PruneCase {
    const char* label;
    // Each transcript: its age in seconds, its size, whether its record is kept,
    // whether its run is in flight.
    struct File {
        int age;
        int size;
        bool recorded;
        bool live;
    };
    std::vector<File> files;
    Seconds oldestRecordAge; // how old the oldest kept record is
    std::uint64_t limit;
    std::vector<bool> remaining;
};

class TranscriptPruning : public testing::TestWithParam<PruneCase> {};

TEST_P(TranscriptPruning, KeepsWhatTheHistoryAndTheLimitAllow) {
    test::TempDir dir;
    TranscriptFolder folder(dir / "Runs");
    fs::create_directories(folder.folder());
    test::writeFile(folder.folder() / "notes.txt", "not a transcript");
    std::unordered_set<Uuid> keep, live;
    std::vector<Uuid> ids;
    auto now = fs::file_time_type::clock::now();
    for (const auto& file : GetParam().files) {
        Uuid id = Uuid::random();
        ids.push_back(id);
        test::writeFile(folder.path(id), std::string(static_cast<std::size_t>(file.size), 'x'));
        fs::last_write_time(folder.path(id), now - std::chrono::seconds(file.age));
        if (file.recorded)
            keep.insert(id);
        if (file.live)
            live.insert(id);
    }
    folder.prune(keep, Instant::now() - GetParam().oldestRecordAge, live, GetParam().limit);
    std::vector<bool> remaining;
    for (const Uuid& id : ids)
        remaining.push_back(fs::exists(folder.path(id)));
    EXPECT_EQ(remaining, GetParam().remaining);
    EXPECT_TRUE(fs::exists(folder.folder() / "notes.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TranscriptPruning,
    testing::Values(
        PruneCase{"RecordLeftTheHistory",
                  {{500, 10, false, false}, {100, 10, true, false}},
                  200,
                  1000,
                  {false, true}},
        PruneCase{
            "RecordlessButYoungerThanTheHistory", {{100, 10, false, false}}, 200, 1000, {true}},
        PruneCase{"LiveRunsAreNeverTouched",
                  {{500, 10, false, true}, {400, 5000, false, true}},
                  200,
                  100,
                  {true, true}},
        PruneCase{"OldestGoFirstBeyondTheLimit",
                  {{300, 100, true, false}, {200, 100, true, false}, {100, 100, true, false}},
                  400,
                  250,
                  {false, true, true}},
        PruneCase{"ALimitOfZeroKeepsNone", {{300, 1, true, false}}, 400, 0, {false}}),
    [](const auto& info) { return std::string(info.param.label); });

// Sees what a run hands to LiveRuns' listener.
class RecordingListener : public LiveRuns::Listener {
public:
    void runBegan(const LiveRun& run) override {
        std::lock_guard lock(mutex);
        began.push_back(run);
    }
    void outputLine(const LiveRun&, std::uint64_t, OutputChannel channel,
                    std::string_view text) override {
        std::lock_guard lock(mutex);
        lines.emplace_back(channel, std::string(text));
    }
    void runEnded(const LiveRun&, const std::optional<RunRecord>& record) override {
        std::lock_guard lock(mutex);
        ended.push_back(record);
    }
    std::mutex mutex;
    std::vector<LiveRun> began;
    std::vector<Line> lines;
    std::vector<std::optional<RunRecord>> ended;
};

struct LiveRunnerFixture : test::RunnerFixture {
    LiveRunnerFixture(
        const std::string& script, fs::path transcripts,
        std::shared_ptr<RecordingListener> listener = std::make_shared<RecordingListener>())
        : RunnerFixture(script, test::standInSpec(), withListener(std::move(transcripts), listener))
        , listener(std::move(listener)) {}
    static std::shared_ptr<LiveRuns> withListener(fs::path transcripts,
                                                  std::shared_ptr<RecordingListener> listener) {
        auto live = std::make_shared<LiveRuns>(TranscriptFolder(std::move(transcripts)));
        live->setListener(std::move(listener));
        return live;
    }
    RunRecord run(std::vector<std::string>* printed = nullptr) {
        Job j = job();
        j.skills = {"extra"}; // this harness takes no skills: one warning
        return runner->run(j, std::nullopt, RunLimits{}, Instant::now(),
                           [printed](std::string_view line) {
                               if (printed)
                                   printed->emplace_back(line);
                           });
    }
    std::shared_ptr<RecordingListener> listener;
};

const char* chattyHarness = "cat >/dev/null\n"
                            "echo '{\"type\":\"system\",\"session_id\":\"s1\"}'\n"
                            "echo 'rate limited, retrying' >&2\n"
                            "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
                            "\"result\":\"done\"}'\n";

TEST(LiveRuns, ARunsWholeOutputIsInTheTranscriptNamedByItsRecord) {
    test::TempDir transcripts;
    LiveRunnerFixture fixture(chattyHarness, transcripts / "Runs");
    RunRecord record = fixture.run();
    EXPECT_TRUE(record.succeeded()) << record.failureMessage.value_or("");
    std::vector<Line> lines = readAll(transcripts / "Runs" / (record.id.text() + ".log"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].first, OutputChannel::warning) << "the warning comes before the harness";
    // The two streams are read side by side: each keeps its own order.
    std::vector<std::string> out, err;
    for (const auto& [channel, text] : lines)
        (channel == OutputChannel::standardError ? err : out).push_back(text);
    EXPECT_EQ(err, std::vector<std::string>{"rate limited, retrying"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2].rfind(R"({"type":"result")", 0), 0u);
    EXPECT_EQ(fixture.listener->lines, lines) << "the listener sees what the transcript keeps";
    ASSERT_EQ(fixture.listener->began.size(), 1u);
    EXPECT_EQ(fixture.listener->began[0].runID, record.id);
    ASSERT_EQ(fixture.listener->ended.size(), 1u);
    EXPECT_EQ(fixture.listener->ended[0], record);
    EXPECT_TRUE(fixture.live->runs().empty());
    struct stat status {};
    ASSERT_EQ(::stat((transcripts / "Runs").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST(LiveRuns, AnUnwritableTranscriptFolderCostsOneWarningNotTheRun) {
    test::TempDir dir;
    test::writeFile(dir / "data", "a file where the folder should be");
    LiveRunnerFixture fixture(chattyHarness, dir / "data" / "Runs");
    std::vector<std::string> printed;
    RunRecord record = fixture.run(&printed);
    EXPECT_TRUE(record.succeeded()) << record.failureMessage.value_or("");
    int warnings = 0;
    for (const std::string& line : printed)
        warnings += line.find("keeps no transcript") != std::string::npos;
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(printed.back().rfind(R"({"type":"result")", 0), 0u);
}

TEST(LiveRuns, ARefusedRunLeavesNothingInFlight) {
    test::TempDir transcripts;
    LiveRunnerFixture fixture(chattyHarness, transcripts / "Runs");
    fs::remove(fixture.folder / "bin" / "standin");
    RunRecord record = fixture.run();
    EXPECT_FALSE(record.succeeded());
    EXPECT_TRUE(fixture.live->runs().empty());
    EXPECT_TRUE(fixture.listener->began.empty()) << "refused before any harness started";
}

} // namespace
} // namespace marrowbell
