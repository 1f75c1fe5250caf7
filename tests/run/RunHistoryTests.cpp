#include "base/FileWatcher.h"
#include "base/Files.h"
#include "run/RunHistory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

const Uuid jobA = *Uuid::parse("AAAAAAAA-0000-4000-8000-000000000001");
const Uuid jobB = *Uuid::parse("BBBBBBBB-0000-4000-8000-000000000002");

RunRecord run(const Uuid& job, double startedAt, std::string result = "ok") {
    RunRecord r;
    r.jobID = job;
    r.startedAt = Instant{startedAt};
    r.duration = 3;
    r.resultText = std::move(result);
    return r;
}

Json fileContent(const fs::path& file) {
    auto document = json::parse(files::read(file).value_or(""));
    EXPECT_TRUE(document) << file;
    return document.value_or(Json());
}

// Records one run and waits for its write.
void recordAndFlush(RunHistory& history, RunRecord record) {
    history.record(std::move(record));
    history.flush();
}

std::vector<std::string> results(const std::vector<RunRecord>& runs) {
    std::vector<std::string> out;
    for (const RunRecord& r : runs)
        out.push_back(r.resultText.value_or(""));
    return out;
}

} // namespace

// In memory (no file): the last run is the latest start, not the last recorded. (The
// last starts are the scheduler's: its catch-up tests read them.)
TEST(RunHistory, RunsAreNewestStartFirstAndEqualStartsKeepRecordedOrder) {
    RunHistory history;
    EXPECT_FALSE(history.fileURL());
    history.record(run(jobA, 200, "late start, recorded first"));
    history.record(run(jobB, 500, "other job"));
    history.record(run(jobA, 100, "early"));
    history.record(run(jobA, 300, "tie 1"));
    history.record(run(jobA, 300, "tie 2"));
    history.flush();
    EXPECT_EQ(history.pending(), 0u);
    using Texts = std::vector<std::string>;
    EXPECT_EQ(results(history.runs(jobA)),
              (Texts{"tie 1", "tie 2", "late start, recorded first", "early"}));
    EXPECT_EQ(results(history.allRuns()),
              (Texts{"other job", "tie 1", "tie 2", "late start, recorded first", "early"}));
    EXPECT_EQ(history.lastRun(jobA)->resultText, "tie 1");
    EXPECT_FALSE(history.lastRun(Uuid::random()));
    EXPECT_TRUE(history.runs(Uuid::random()).empty());
    const auto last = history.lastRuns();
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last.at(jobA), *history.lastRun(jobA));
    EXPECT_EQ(last.at(jobB).resultText, "other job");
}

// A file beyond the cap loads whole; the next record cuts it to the newest 2000, which
// the file keeps oldest first.
TEST(RunHistory, CapKeepsTheNewest2000FromTheNextRecordOn) {
    test::TempDir dir;
    Json array = Json::array();
    for (int i = 0; i < 2500; ++i)
        array.push_back(run(jobA, i, std::to_string(i)).toJson());
    test::writeFile(dir / "runs.json", json::pretty(array));
    RunHistory history(dir / "runs.json");
    EXPECT_EQ(history.allRuns().size(), 2500u);
    recordAndFlush(history, run(jobA, 9999, "new"));
    auto all = history.allRuns();
    ASSERT_EQ(all.size(), 2000u);
    EXPECT_EQ(all.front().resultText, "new");
    EXPECT_EQ(all.back().resultText, "501");
    Json file = fileContent(dir / "runs.json");
    ASSERT_EQ(file.size(), 2000u);
    EXPECT_EQ(file.front()["resultText"], "501");
    EXPECT_EQ(file.back()["resultText"], "new");
}

// The folder is made at creation; destroying the history finishes queued writes.
TEST(RunHistory, FlushReturnsOnceTheFileHoldsEveryRecordPrettyAndPrivate) {
    test::TempDir dir;
    fs::path file = dir / "nested" / "deeper" / "runs.json";
    RunHistory history(file);
    EXPECT_TRUE(fs::is_directory(file.parent_path()));
    for (int i = 0; i < 50; ++i)
        history.record(run(i % 2 ? jobA : jobB, i, std::to_string(i)));
    history.flush();
    EXPECT_EQ(history.pending(), 0u);
    Json content = fileContent(file);
    ASSERT_EQ(content.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(content[i]["resultText"], std::to_string(i));
    EXPECT_EQ(*files::read(file), json::pretty(content)) << "pretty-printed with sorted keys";
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(RunHistory(file).allRuns(), history.allRuns());
    {
        RunHistory again(file);
        for (int i = 0; i < 20; ++i)
            again.record(run(jobA, 100 + i));
    }
    EXPECT_EQ(fileContent(file).size(), 70u);
}

// Each write merges with the file as it is then: a second history on it (the app and a
// terminal command, say) keeps the first's records, and a record stored without an
// identifier is still recognised as one already there.
TEST(RunHistory, RecordsWithoutIdentifierOrCancellationLoadAndMerge) {
    test::TempDir dir;
    test::writeFile(dir / "runs.json", R"([
        {"jobID": "AAAAAAAA-0000-4000-8000-000000000001", "startedAt": 5.5, "duration": 1,
         "exitCode": 0, "timedOut": false, "futureKey": [1, 2]},
        {"id": "0F8FAD5B-D9CB-469F-A165-70867728950E", "jobID": "aaaaaaaa-0000-4000-8000-000000000001",
         "startedAt": 7, "duration": 2, "exitCode": 1, "timedOut": true, "wasCancelled": true}])");
    RunHistory history(dir / "runs.json"), other(dir / "runs.json");
    auto runs = history.runs(jobA);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].id.text(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_TRUE(runs[0].wasCancelled);
    EXPECT_FALSE(runs[1].wasCancelled);
    EXPECT_EQ(runs[1].startedAt, Instant{5.5});
    recordAndFlush(history, run(jobA, 9));
    recordAndFlush(other, run(jobB, 10));
    EXPECT_EQ(fileContent(dir / "runs.json").size(), 4u);
    EXPECT_EQ(other.allRuns().size(), 4u);
}

struct Damage {
    const char* name;
    std::string content;
    std::size_t kept; // records that still load
};

class DamagedHistoryFile : public testing::TestWithParam<Damage> {};

// The history is never written over: the damaged file is moved aside, kept, and the user
// told once; what decodes stays and the next record writes a fresh file.
TEST_P(DamagedHistoryFile, IsMovedAsideAndTheNextRecordWritesWhatDecodes) {
    test::TempDir dir;
    fs::path file = dir / "runs.json";
    test::writeFile(file, GetParam().content);
    RunHistory history(file);
    EXPECT_EQ(history.allRuns().size(), GetParam().kept);
    ASSERT_EQ(history.loadProblems().size(), 1u);
    if (GetParam().kept) {
        EXPECT_NE(history.loadProblems()[0].find("1 entry"), std::string::npos)
            << history.loadProblems()[0];
    }
    auto aside = test::setAside(file);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(files::read(aside[0]), GetParam().content);
    recordAndFlush(history, run(jobA, 4));
    EXPECT_EQ(fileContent(file).size(), GetParam().kept + 1);
    EXPECT_EQ(files::read(aside[0]), GetParam().content);
    EXPECT_TRUE(RunHistory(file).loadProblems().empty()) << "told once";
}

INSTANTIATE_TEST_SUITE_P(
    RunHistory, DamagedHistoryFile,
    testing::Values(Damage{"notJson", "not json at all", 0},
                    Damage{"notAnArray", "{\"records\": []}", 0},
                    Damage{"oneRecordBad", R"([{"jobID": "AAAAAAAA-0000-4000-8000-000000000001",
        "startedAt": 1, "duration": 1, "exitCode": 0, "timedOut": false},
        {"jobID": "AAAAAAAA-0000-4000-8000-000000000001", "startedAt": 2, "duration": 1,
        "exitCode": "n/a", "timedOut": false},
        {"jobID": "AAAAAAAA-0000-4000-8000-000000000001", "startedAt": 3, "duration": 1,
        "exitCode": 0, "timedOut": false}])",
                           2}),
    [](const auto& info) { return std::string(info.param.name); });

// A write that fails (here: the folder gone from under the history, which fails even
// for root) is reported and its record kept in memory, then carried by the next write.
TEST(RunHistory, WriteFailuresLeaveMemoryRightAndTheNextWriteCatchesUp) {
    test::TempDir dir;
    fs::path file = dir / "history" / "runs.json";
    RunHistory history(file);
    std::vector<std::string> reported;
    history.setOnWriteFailure([&](const StoreError& error) { reported.push_back(error.what()); });
    recordAndFlush(history, run(jobA, 1));
    EXPECT_FALSE(history.writeFailure());
    fs::remove_all(file.parent_path());
    recordAndFlush(history, run(jobA, 2));
    EXPECT_EQ(history.allRuns().size(), 2u);
    EXPECT_EQ(
        history.writeFailure().value_or("").rfind("Could not save the run history \u2014 ", 0), 0u);
    EXPECT_EQ(reported, std::vector<std::string>{*history.writeFailure()});
    fs::create_directories(file.parent_path());
    recordAndFlush(history, run(jobA, 3));
    EXPECT_EQ(fileContent(file).size(), 3u);
    EXPECT_FALSE(history.writeFailure());
}

TEST(RunHistory, FileIsRunsJsonInTheSupportFolderWhichMustBeMade) {
    test::TempDir dir;
    test::ScopedEnv data("XDG_DATA_HOME", dir.path().string());
    EXPECT_EQ(RunHistory::defaultFileURL(), dir / "Marrowbell" / "runs.json");
    test::writeFile(dir / "plain-file", "x");
    EXPECT_THROW(RunHistory(dir / "plain-file" / "runs.json"), fs::filesystem_error);
}

// A reader following the writer's file hears of each new record once, and holds what
// the writer holds; records it already had are not told again.
TEST(RunHistory, AReaderFollowsTheWritersFile) {
    test::TempDir folder;
    RunHistory writer(folder / "runs.json");
    recordAndFlush(writer, run(jobA, 100));
    RunHistory reader(folder / "runs.json");
    FileWatcher watcher;
    reader.follow(watcher);
    std::mutex mutex;
    std::vector<RunRecord> heard;
    auto sub = reader.subscribe([&](const std::vector<RunRecord>& added) {
        std::lock_guard lock(mutex);
        heard.insert(heard.end(), added.begin(), added.end());
    });
    RunRecord second = run(jobB, 200), third = run(jobA, 300);
    writer.record(second);
    recordAndFlush(writer, third);
    test::eventually([&] { return reader.allRuns().size() >= 3; }, std::chrono::seconds(20));
    EXPECT_EQ(reader.allRuns(), writer.allRuns());
    std::lock_guard lock(mutex);
    EXPECT_EQ(heard, (std::vector{second, third}));
    EXPECT_THROW(RunHistory().follow(watcher), std::logic_error);
}
