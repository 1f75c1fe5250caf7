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
using Lines = std::vector<Line>;

Lines readAll(const fs::path& path, std::uint64_t end = UINT64_MAX, std::size_t budget = 1 << 20) {
    Lines lines;
    TranscriptReader reader(path, end);
    while (reader.read(budget, [&](OutputChannel channel, std::string_view text) {
        lines.emplace_back(channel, std::string(text));
    })) {
    }
    return lines;
}

unsigned mode(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 0777;
}

TEST(RunTranscript, KeepsEveryLineWithItsChannel) {
    test::TempDir dir;
    const Lines written{{OutputChannel::warning, "no sandbox for this harness"},
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
    EXPECT_EQ(readAll(dir / "run.log", UINT64_MAX, 3), written) << "reads cut lines anywhere";
    EXPECT_EQ(mode(dir / "run.log"), 0600u);
}

TEST(RunTranscript, AKilledWritersLastLineIsLeftOutAndAnEndIsHonoured) {
    test::TempDir dir;
    test::writeFile(dir / "run.log", "first\nstderr: second\nhalf a li");
    EXPECT_EQ(readAll(dir / "run.log"), (Lines{{OutputChannel::standardOutput, "first"},
                                               {OutputChannel::standardError, "second"}}));
    EXPECT_EQ(readAll(dir / "run.log", 6), (Lines{{OutputChannel::standardOutput, "first"}}));
}

TEST(RunTranscript, IsWrittenWhileTheRunGoesOnNotOnlyAtTheEnd) {
    test::TempDir dir;
    RunTranscript transcript(dir / "run.log");
    transcript.append(OutputChannel::standardOutput, "early");
    transcript.flush();
    EXPECT_EQ(*files::read(dir / "run.log"), "early\n");
    std::string big(RunTranscript::bufferLimit, 'x');
    transcript.append(OutputChannel::standardOutput, big); // a full buffer goes without a flush
    EXPECT_TRUE(test::eventually(
        [&] { return files::read(dir / "run.log")->size() == 6 + big.size() + 1; }));
}

struct PruneCase {
    const char* label;
    Seconds oldestRecordAge;
    std::uint64_t limit;
    struct File {
        int age; // seconds
        int size;
        bool recorded; // its record is still in the history
        bool live;     // its run is in flight
    };
    std::vector<File> files;
    std::vector<bool> remaining;
};

class TranscriptPruning : public testing::TestWithParam<PruneCase> {};

TEST_P(TranscriptPruning, KeepsWhatTheHistoryAndTheLimitAllow) {
    test::TempDir dir;
    TranscriptFolder folder(dir / "Runs");
    test::writeFile(folder.folder() / "notes.txt", "not a transcript");
    std::unordered_set<Uuid> keep, live;
    std::vector<Uuid> ids;
    for (const auto& file : GetParam().files) {
        Uuid id = ids.emplace_back(Uuid::random());
        test::writeFile(folder.path(id), std::string(static_cast<std::size_t>(file.size), 'x'));
        fs::last_write_time(folder.path(id),
                            fs::file_time_type::clock::now() - std::chrono::seconds(file.age));
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
        PruneCase{"RecordLeftTheHistory", 200, 1000, {{500, 10, 0, 0}, {100, 10, 1, 0}}, {0, 1}},
        PruneCase{"RecordlessButYoungerThanTheHistory", 200, 1000, {{100, 10, 0, 0}}, {1}},
        PruneCase{
            "LiveRunsAreNeverTouched", 200, 100, {{500, 10, 0, 1}, {400, 5000, 0, 1}}, {1, 1}},
        PruneCase{"OldestGoFirstBeyondTheLimit",
                  400,
                  250,
                  {{300, 100, 1, 0}, {200, 100, 1, 0}, {100, 100, 1, 0}},
                  {0, 1, 1}},
        PruneCase{"ALimitOfZeroKeepsNone", 400, 0, {{300, 1, 1, 0}}, {0}}),
    [](const auto& info) { return std::string(info.param.label); });

// Hears the lines a run hands to LiveRuns' listener.
struct LineListener : LiveRuns::Listener {
    void runBegan(const LiveRun&) override {}
    void outputLine(const LiveRun&, std::uint64_t, OutputChannel channel,
                    std::string_view text) override {
        std::lock_guard lock(mutex);
        lines.emplace_back(channel, std::string(text));
    }
    void runEnded(const LiveRun&, const std::optional<RunRecord>&) override {}
    std::mutex mutex;
    Lines lines;
};

// A runner whose runs are live with a listener, their transcripts in `transcripts`; its
// harness says something on each stream, and its job gets one warning (no skills here).
struct LiveRunner {
    explicit LiveRunner(const fs::path& transcripts)
        : f("cat >/dev/null\n"
            "echo '{\"type\":\"system\",\"session_id\":\"s1\"}'\n"
            "echo 'rate limited, retrying' >&2\n"
            "echo '{\"type\":\"result\",\"is_error\":false,\"result\":\"done\"}'\n",
            test::standInSpec(), std::make_shared<LiveRuns>(TranscriptFolder(transcripts))) {
        f.live->setListener(listener);
    }
    RunRecord run(std::vector<std::string>* printed = nullptr) {
        Job j = f.job();
        j.skills = {"extra"};
        return f.runner->run(j, std::nullopt, RunLimits{}, Instant::now(),
                             [printed](std::string_view line) {
                                 if (printed)
                                     printed->emplace_back(line);
                             });
    }
    test::RunnerFixture f;
    std::shared_ptr<LineListener> listener = std::make_shared<LineListener>();
};

// Its listener hears what its transcript keeps (the rest it is told is checked with the
// control server); a run refused before any harness started begins nothing: no
// transcript. Neither leaves anything in flight.
TEST(LiveRuns, ARunsWholeOutputIsInTheTranscriptNamedByItsRecord) {
    test::TempDir transcripts;
    LiveRunner live(transcripts / "Runs");
    RunRecord record = live.run();
    EXPECT_TRUE(record.succeeded()) << record.summary();
    Lines lines = readAll(transcripts / "Runs" / (record.id.text() + ".log"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].first, OutputChannel::warning) << "the warning comes before the harness";
    // The two streams are read side by side: each keeps its own order.
    std::vector<std::string> out, err;
    for (const auto& [channel, text] : lines)
        (channel == OutputChannel::standardError ? err : out).push_back(text);
    EXPECT_EQ(err, std::vector<std::string>{"rate limited, retrying"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2].rfind(R"({"type":"result")", 0), 0u);
    EXPECT_EQ(live.listener->lines, lines);
    EXPECT_TRUE(live.f.live->runs().empty());
    EXPECT_EQ(mode(transcripts / "Runs"), 0700u);

    fs::remove(live.f.folder / "bin" / "standin");
    EXPECT_FALSE(live.run().succeeded());
    EXPECT_TRUE(live.f.live->runs().empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(transcripts / "Runs"), fs::directory_iterator()),
              1);
}

TEST(LiveRuns, AnUnwritableTranscriptFolderCostsOneWarningNotTheRun) {
    test::TempDir dir;
    test::writeFile(dir / "data", "a file where the folder should be");
    LiveRunner live(dir / "data" / "Runs");
    std::vector<std::string> printed;
    RunRecord record = live.run(&printed);
    EXPECT_TRUE(record.succeeded()) << record.summary();
    EXPECT_EQ(std::count_if(printed.begin(), printed.end(),
                            [](const std::string& line) {
                                return line.find("keeps no transcript") != std::string::npos;
                            }),
              1);
    EXPECT_EQ(printed.back().rfind(R"({"type":"result")", 0), 0u);
}

} // namespace
} // namespace marrowbell
