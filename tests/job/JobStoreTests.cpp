#include "base/Files.h"
#include "base/StoreError.h"
#include "job/JobStore.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using test::makeJob;

std::size_t jobFilesIn(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.path().extension() == ".json";
    return count;
}

void writeJob(const fs::path& file, const Job& job) {
    test::writeFile(file, json::pretty(job.toJson()));
}

// Jobs are read back in creation order, each from a private file of its own name.
TEST(JobStore, CreatesItsFolderPrivatelySavesAndReloadsInCreationOrder) {
    test::TempDir home;
    const fs::path folder = home / "Marrowbell/Jobs";
    Job late = makeJob("Late", "0 9 * * *", Instant{3000});
    Job early = makeJob("Early", "0 9 * * *", Instant{1000});
    Job middle = makeJob("Middle", "0 9 * * *", Instant{2000});
    {
        JobStore store(folder);
        for (const char* made : {"Marrowbell", "Marrowbell/Jobs"})
            EXPECT_EQ(fs::status(home / made).permissions(), fs::perms::owner_all) << made;
        EXPECT_TRUE(store.jobs().empty());
        for (const Job& job : {late, early, middle})
            store.save(job);
        EXPECT_EQ(store.job(early.id), early);
    }
    EXPECT_EQ(JobStore(folder).jobs(), (std::vector<Job>{early, middle, late}));
    const fs::path file = folder / (early.id.text() + ".json");
    EXPECT_EQ(files::read(file), json::pretty(early.toJson()));
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    test::writeFile(home / "Jobs", "a file where the folder should be");
    EXPECT_THROW(JobStore(home / "Jobs"), fs::filesystem_error);
    test::ScopedEnv dataEnv("XDG_DATA_HOME", home.path().string());
    EXPECT_EQ(JobStore::defaultDirectory(), folder);
}

// Nothing here may hang the load or fill the memory (a FIFO nobody writes to, an
// endless device behind a link, a file far beyond any job's size), and no file that
// is not a job is ever rewritten.
TEST(JobStore, SkipsFilesThatAreNotJobsWithoutBlockingAndLeavesThemUntouched) {
    test::TempDir folder;
    Job valid = makeJob("Valid"), upper = makeJob("Upper"), named = makeJob("Named");
    Json badSchedule = makeJob().toJson();
    badSchedule["schedule"] = "61 * * * *";
    Json huge = makeJob("Huge").toJson();
    huge["prompt"] = std::string(JobStore::maxFileBytes, 'x');
    writeJob(folder / (valid.id.text() + ".json"), valid);
    writeJob(folder / (upper.id.text() + ".JSON"), upper);
    writeJob(folder / "anything.json", named);
    writeJob(folder / "notes.txt", makeJob());
    test::writeFile(folder / "broken.json", "{\"id\": \"oops\"");
    test::writeFile(folder / "schedule.json", badSchedule.dump());
    test::writeFile(folder / "binary.json", std::string("\xff\xfe\0\x01", 4));
    test::writeFile(folder / "huge.json", huge.dump());
    fs::create_directory(folder / "folder.json");
    ASSERT_EQ(::mkfifo((folder / "fifo.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folder / "zero.json");

    JobStore store(folder.path());
    EXPECT_EQ(store.jobs().size(), 2u);
    EXPECT_TRUE(store.job(valid.id));
    EXPECT_TRUE(store.job(named.id));
    std::string problems;
    for (const std::string& problem : store.loadProblems())
        problems += problem + "\n";
    for (const char* name : {"fifo.json", "zero.json", "huge.json", "broken.json"})
        EXPECT_NE(problems.find(name), std::string::npos) << problems;
    EXPECT_EQ(files::read(folder / "broken.json"), "{\"id\": \"oops\"");
    EXPECT_EQ(files::read(folder / "schedule.json"), badSchedule.dump());
    EXPECT_EQ(fs::status(folder / "fifo.json").type(), fs::file_type::fifo);

    // A job read from a differently named file is saved under its own name beside it.
    store.save(named);
    EXPECT_TRUE(fs::exists(folder / "anything.json"));
    EXPECT_TRUE(fs::exists(folder / (named.id.text() + ".json")));
}

TEST(JobStore, RemoveDeletesTheFileAndCopiesMadeSinceLoadingAndToleratesAMissingOne) {
    test::TempDir folder;
    JobStore store(folder.path());
    Job job = makeJob();
    store.save(job);
    fs::copy_file(store.fileFor(job.id), folder / "copy.json");
    test::writeFile(folder / "other.json", "{}");
    EXPECT_NO_THROW(store.remove(Uuid::random()));
    store.remove(job.id);
    EXPECT_FALSE(store.job(job.id));
    EXPECT_EQ(jobFilesIn(folder.path()), 1u);
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

// Two files holding one job (a synchroniser's copy): one is kept, the same one every
// time, the other reported; deleting the job removes both. "ID" stands for the job's own
// file name; the own name wins wherever it is listed, else the first by name.
TEST(JobStore, OfTwoFilesHoldingOneJobOneIsLoadedTheOtherReportedAndBothDeleted) {
    for (const auto& [first, second, kept] :
         std::initializer_list<std::tuple<std::string, std::string, std::string>>{
             {"ID", "mycopy.json", "ID"},
             {"0-copy.json", "ID", "ID"},
             {"a.json", "b.json", "a.json"}}) {
        SCOPED_TRACE(first + " " + second);
        test::TempDir folder;
        Job job = makeJob("One"), twin = job;
        twin.name = "Two";
        auto file = [&](const std::string& name) {
            return name == "ID" ? job.id.text() + ".json" : name;
        };
        writeJob(folder / file(first), job);
        writeJob(folder / file(second), twin);
        JobStore store(folder.path());
        ASSERT_EQ(store.jobs().size(), 1u);
        EXPECT_EQ(store.jobs()[0].name, kept == first ? "One" : "Two");
        ASSERT_EQ(store.loadProblems().size(), 1u);
        EXPECT_NE(store.loadProblems()[0].find(file(kept == first ? second : first)),
                  std::string::npos)
            << store.loadProblems()[0];
        store.remove(job.id);
        EXPECT_EQ(jobFilesIn(folder.path()), 0u);
    }
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
        for (const std::string& file : {store.fileFor(job.id).string(), std::string("mycopy.json")})
            EXPECT_NE(message.find(file + ": Read-only file system"), std::string::npos) << message;
    }
    EXPECT_TRUE(store.job(job.id));
}

} // namespace
} // namespace marrowbell
