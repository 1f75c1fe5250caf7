#include "base/Files.h"
#include "base/StoreError.h"
#include "job/JobStore.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using test::makeJob;

const char* saveLoopVariable = "MARROWBELL_TEST_JOB_SAVE_LOOP";
const char* savedId = "0A1B2C3D-0000-4000-8000-00000000C0DE";

// Hidden helper mode: when started with the variable set, this test program saves
// one job over and over into the named folder until it is killed.
[[maybe_unused]] const bool saveLoopHelper = [] {
    const char* directory = std::getenv(saveLoopVariable);
    if (!directory)
        return false;
    JobStore store(directory);
    Job job = makeJob();
    job.id = *Uuid::parse(savedId);
    for (std::size_t round = 0;; ++round) {
        // Contents of very different sizes, so a torn write could not pass for whole.
        job.prompt = std::string(1 + round % 7 * 40000, static_cast<char>('a' + round % 26));
        store.save(job);
    }
}();

std::size_t jobFilesIn(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.path().extension() == ".json";
    return count;
}

TEST(JobStore, CreatesAMissingFolderPrivatelyAndStartsEmpty) {
    test::TempDir home;
    JobStore store(home / "Marrowbell/Jobs");
    for (const char* folder : {"Marrowbell", "Marrowbell/Jobs"}) {
        struct stat info {};
        ASSERT_EQ(::stat((home / folder).c_str(), &info), 0) << folder;
        EXPECT_TRUE(S_ISDIR(info.st_mode)) << folder;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
    }
    EXPECT_TRUE(store.jobs().empty());
    EXPECT_EQ(store.directory(), home / "Marrowbell/Jobs");
}

TEST(JobStore, FolderThatCannotBeCreatedFailsTheStore) {
    test::TempDir home;
    test::writeFile(home / "Jobs", "a file where the folder should be");
    EXPECT_THROW(JobStore(home / "Jobs"), fs::filesystem_error);
}

TEST(JobStore, DefaultDirectoryIsInTheSupportFolder) {
    test::TempDir data;
    test::ScopedEnv dataEnv("XDG_DATA_HOME", data.path().string());
    EXPECT_EQ(JobStore::defaultDirectory(), data / "Marrowbell/Jobs");
}

TEST(JobStore, SavesReloadsAndOrdersByCreation) {
    test::TempDir folder;
    Job late = makeJob("Late", "0 9 * * *", Instant{3000});
    Job early = makeJob("Early", "0 9 * * *", Instant{1000});
    Job middle = makeJob("Middle", "0 9 * * *", Instant{2000});
    {
        JobStore store(folder.path());
        for (const Job& job : {late, early, middle})
            store.save(job);
        EXPECT_EQ(store.job(early.id), early);
    }
    JobStore reopened(folder.path());
    EXPECT_EQ(reopened.jobs(), (std::vector<Job>{early, middle, late}));
    auto bytes = files::read(folder / (early.id.text() + ".json"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, json::pretty(early.toJson()));
    EXPECT_NE(bytes->find("\n  \"createdAt\": 1000"), std::string::npos);
    EXPECT_EQ(fs::status(folder / (early.id.text() + ".json")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(JobStore, SkipsFilesThatAreNotJobsAndLeavesThemUntouched) {
    test::TempDir folder;
    Job valid = makeJob("Valid");
    Job upper = makeJob("Upper");
    Job named = makeJob("Named");
    const std::string broken = "{\"id\": \"oops\"";
    Json badSchedule = makeJob().toJson();
    badSchedule["schedule"] = "61 * * * *";
    test::writeFile(folder / (valid.id.text() + ".json"), json::pretty(valid.toJson()));
    test::writeFile(folder / "broken.json", broken);
    test::writeFile(folder / "schedule.json", json::pretty(badSchedule));
    test::writeFile(folder / "notes.txt", json::pretty(makeJob().toJson()));
    test::writeFile(folder / (upper.id.text() + ".JSON"), json::pretty(upper.toJson()));
    test::writeFile(folder / "anything.json", json::pretty(named.toJson()));
    test::writeFile(folder / "binary.json", std::string("\xff\xfe\0\x01", 4));
    fs::create_directory(folder / "folder.json");

    JobStore store(folder.path());
    std::vector<Job> loaded = store.jobs();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_TRUE(store.job(valid.id));
    EXPECT_TRUE(store.job(named.id));
    EXPECT_FALSE(store.job(upper.id));
    EXPECT_EQ(files::read(folder / "broken.json"), broken);
    EXPECT_EQ(files::read(folder / "schedule.json"), json::pretty(badSchedule));

    // A job read from a differently named file is saved under its own name beside it.
    store.save(named);
    EXPECT_TRUE(fs::exists(folder / "anything.json"));
    EXPECT_TRUE(fs::exists(folder / (named.id.text() + ".json")));
}

TEST(JobStore, RemoveDeletesTheFileAndToleratesAMissingOne) {
    test::TempDir folder;
    JobStore store(folder.path());
    Job job = makeJob();
    store.save(job);
    store.remove(job.id);
    EXPECT_FALSE(store.job(job.id));
    EXPECT_EQ(jobFilesIn(folder.path()), 0u);
    test::writeFile(folder / "other.json", "{}");
    EXPECT_NO_THROW(store.remove(Uuid::random()));
    EXPECT_TRUE(fs::exists(folder / "other.json"));
}

TEST(JobStore, FailedSaveLeavesMemoryAndDiskAsTheyWere) {
    test::TempDir folder;
    JobStore store(folder.path());
    Job job = makeJob("Before");
    store.save(job);
    const auto before = files::read(store.fileFor(job.id));
    Job edited = job;
    edited.name = "After";

    // The target replaced by a folder: the rename fails, whoever we run as.
    Job blocked = makeJob("Blocked");
    fs::create_directory(store.fileFor(blocked.id));
    test::writeFile(store.fileFor(blocked.id) / "inside", "x");
    EXPECT_THROW(store.save(blocked), std::system_error);
    EXPECT_FALSE(store.job(blocked.id));
    EXPECT_TRUE(fs::is_directory(store.fileFor(blocked.id)));

    if (::geteuid() != 0) { // permissions do not stop root
        fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_THROW(store.save(edited), std::system_error);
        EXPECT_EQ(store.job(job.id)->name, "Before");
        EXPECT_THROW(store.remove(job.id), StoreError);
        EXPECT_TRUE(store.job(job.id));
        fs::permissions(folder.path(), fs::perms::owner_all);
    }
    EXPECT_EQ(files::read(store.fileFor(job.id)), before);
    std::size_t leftovers = 0;
    for (const auto& entry : fs::directory_iterator(folder.path()))
        leftovers += entry.path().filename().string().front() == '.';
    EXPECT_EQ(leftovers, 0u) << "temporary files left behind";
}

struct DuplicateCase {
    const char* label;
    const char* first; // file names; the job in `kept` wins
    const char* second;
    const char* kept;
};

class DuplicateJobFiles : public testing::TestWithParam<DuplicateCase> {};

// Two files holding one job (a synchroniser's copy): one is kept, the same one every
// time, the other reported; deleting the job removes both.
TEST_P(DuplicateJobFiles, LoadOneReportTheOtherAndDeleteBoth) {
    test::TempDir folder;
    Job job = makeJob("One");
    Job twin = job;
    twin.name = "Two";
    auto name = [&](const char* pattern) {
        std::string text = pattern;
        return text == "ID" ? job.id.text() + ".json" : text;
    };
    test::writeFile(folder / name(GetParam().first), json::pretty(job.toJson()));
    test::writeFile(folder / name(GetParam().second), json::pretty(twin.toJson()));
    const std::string keptName = std::string(GetParam().kept) == GetParam().first ? "One" : "Two";

    JobStore store(folder.path());
    ASSERT_EQ(store.jobs().size(), 1u);
    EXPECT_EQ(store.jobs()[0].name, keptName);
    ASSERT_EQ(store.loadProblems().size(), 1u);
    const std::string ignored = name(
        std::string(GetParam().kept) == GetParam().first ? GetParam().second : GetParam().first);
    EXPECT_NE(store.loadProblems()[0].find(ignored), std::string::npos) << store.loadProblems()[0];

    store.remove(job.id);
    EXPECT_EQ(jobFilesIn(folder.path()), 0u);
    EXPECT_TRUE(JobStore(folder.path()).jobs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    JobStore, DuplicateJobFiles,
    testing::Values(DuplicateCase{"OwnNameWins", "ID", "mycopy.json", "ID"},
                    DuplicateCase{"OwnNameWinsListedLater", "0-copy.json", "ID", "ID"},
                    DuplicateCase{"ElseFirstByName", "a.json", "b.json", "a.json"}),
    [](const auto& info) { return std::string(info.param.label); });

// A copy made after the store loaded is deleted with the job too.
TEST(JobStore, RemoveFindsCopiesMadeSinceLoading) {
    test::TempDir folder;
    JobStore store(folder.path());
    Job job = makeJob();
    store.save(job);
    fs::copy_file(store.fileFor(job.id), folder / "copy.json");
    store.remove(job.id);
    EXPECT_EQ(jobFilesIn(folder.path()), 0u);
}

TEST(JobStore, RemoveThatCannotDeleteEveryFileSaysWhichAndKeepsTheJob) {
    test::SmallFilesystem disk;
    if (disk.unavailable())
        GTEST_SKIP() << *disk.unavailable();
    JobStore store(disk.path());
    Job job = makeJob();
    store.save(job);
    fs::copy_file(store.fileFor(job.id), disk / "mycopy.json");
    disk.makeReadOnly();
    try {
        store.remove(job.id);
        FAIL() << "the job was reported deleted";
    } catch (const StoreError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(store.fileFor(job.id).string() + ": Read-only file system"),
                  std::string::npos)
            << message;
        EXPECT_NE(message.find("mycopy.json: Read-only file system"), std::string::npos) << message;
    }
    EXPECT_TRUE(store.job(job.id));
}

// Nothing here may hang the load or fill the memory: a FIFO nobody writes to, an
// endless device behind a link, a file far beyond any job's size.
TEST(JobStore, SkipsSpecialAndOversizedFilesWithoutBlocking) {
    test::TempDir folder;
    Job valid = makeJob("Valid");
    test::writeFile(folder / (valid.id.text() + ".json"), json::pretty(valid.toJson()));
    ASSERT_EQ(::mkfifo((folder / "fifo.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folder / "zero.json");
    Json huge = makeJob("Huge").toJson();
    huge["prompt"] = std::string(JobStore::maxFileBytes, 'x');
    test::writeFile(folder / "huge.json", json::pretty(huge));

    JobStore store(folder.path());
    ASSERT_EQ(store.jobs().size(), 1u);
    EXPECT_EQ(store.jobs()[0].name, "Valid");
    std::string problems;
    for (const std::string& problem : store.loadProblems())
        problems += problem + "\n";
    for (const char* name : {"fifo.json", "zero.json", "huge.json"})
        EXPECT_NE(problems.find(name), std::string::npos) << problems;
    EXPECT_EQ(fs::status(folder / "fifo.json").type(), fs::file_type::fifo);
}

TEST(JobStore, KillingTheProcessMidSaveNeverLeavesAPartialJobFile) {
    test::TempDir folder;
    const fs::path file = folder / (std::string(savedId) + ".json");
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        environment.emplace_back(*e);
    environment.push_back(std::string(saveLoopVariable) + "=" + folder.path().string());
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=None";
    char* argv[] = {self.data(), filter.data(), nullptr};

    std::mt19937 random(7);
    for (int round = 0; round < 25; ++round) {
        fs::remove(file); // so that the wait below is for a save of this round
        pid_t child = -1;
        ASSERT_EQ(::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(file) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the helper stopped on its own";

        auto bytes = files::read(file);
        ASSERT_TRUE(bytes) << "round " << round;
        auto value = json::parse(*bytes);
        ASSERT_TRUE(value) << "round " << round << ": partial file of " << bytes->size();
        Job saved = Job::fromJson(*value);
        ASSERT_FALSE(saved.prompt.empty());
        EXPECT_EQ(saved.prompt, std::string(saved.prompt.size(), saved.prompt[0]));
        JobStore store(folder.path());
        EXPECT_EQ(store.jobs().size(), 1u);
    }
}

} // namespace
} // namespace marrowbell
