// What marrowbellctl does when its files are shared, damaged, special or cannot be
// written: nothing is lost, and nothing that failed is reported as done.
#include "ctl/SchedulerCommandSupport.h"
#include "endpoint/SecretStore.h"
#include "settings/EndpointStore.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

test::ProcessResult ctl(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment,
                        const std::string& input = "") {
    std::vector<std::string> argv{test::builtBinary("marrowbellctl").string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::runProcess(argv, input, environment);
}

// Keys go to the file: no session bus.
std::vector<std::string> environmentFor(const fs::path& data) {
    return {"XDG_DATA_HOME=" + data.string(), "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus",
            "TZ=UTC"};
}

// Runs `count` commands at once, the i-th given by `arguments(i)`; their results in order.
std::vector<test::ProcessResult> inParallel(
    int count, const std::function<std::vector<std::string>(int)>& arguments,
    const std::vector<std::string>& environment,
    const std::function<std::string(int)>& input = [](int) { return std::string(); }) {
    std::vector<test::ProcessResult> results(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] { results[i] = ctl(arguments(i), environment, input(i)); });
    for (auto& thread : threads)
        thread.join();
    return results;
}

TEST(StoreCommands, AHundredParallelEndpointAddsAreAllKept) {
    test::TempDir data;
    auto results = inParallel(
        100,
        [](int i) {
            return std::vector<std::string>{"endpoints", "add", "ep" + std::to_string(i),
                                            "http://127.0.0.1:1234", "ollama"};
        },
        environmentFor(data.path()));
    for (const auto& result : results)
        EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(EndpointStore(data / "Marrowbell/endpoints.json").endpoints().size(), 100u);
}

TEST(StoreCommands, ParallelKeySavesToTheFileAreAllKept) {
    test::TempDir data;
    EndpointStore endpoints(data / "Marrowbell/endpoints.json");
    constexpr int count = 30;
    std::vector<Uuid> ids;
    for (int i = 0; i < count; ++i) {
        ids.push_back(Uuid::random());
        endpoints.save(Endpoint{ids.back(), "ep" + std::to_string(i), Url{"http://127.0.0.1:1234"},
                                EndpointKind::openAICompatible});
    }
    auto results = inParallel(
        count,
        [&](int i) {
            return std::vector<std::string>{"endpoints", "set-key", ids[i].text()};
        },
        environmentFor(data.path()), [](int i) { return "key-" + std::to_string(i) + "\n"; });
    for (const auto& result : results)
        EXPECT_EQ(result.exitStatus, 0) << result.err;
    SecretStore secrets(std::string(SecretStore::endpointService), SecretStore::Backend::file,
                        data / "Marrowbell/secrets.json");
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(secrets.secret(ids[i]), "key-" + std::to_string(i)) << i;
}

// A full disk: every command that could not write says so and exits 1.
TEST(StoreCommands, WritesThatFailOnAFullDiskAreReportedAndExitOne) {
    test::SmallFilesystem disk;
    if (disk.unavailable())
        GTEST_SKIP() << *disk.unavailable();
    test::CtlHome home;
    home.harness("cat >/dev/null\n"
                 "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
                 "\"result\":\"done\"}'\n");
    std::vector<std::string> environment = home.environment();
    for (const std::string& entry : environmentFor(disk.path()))
        environment.push_back(entry);
    Job job = test::makeJob("Nightly", "0 9 * * *");
    job.workingDirectory = FileUrl::fromPath(home.work(), true);
    job.permission = PermissionLevel::fullAccess;
    JobStore(disk / "Marrowbell/Jobs").save(job);
    disk.fill();

    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {{"endpoints", "add", "Studio", "http://127.0.0.1:1234", "lmStudio"},
              "Could not save the endpoints \u2014 No space left on device"},
             {{"add", "Other", "--folder", home.work().string(), "--harness", "claude",
               "--schedule", "0 9 * * *"},
              "Could not save the job \u201COther\u201D \u2014 No space left on device"},
             {{"pause", "Nightly"},
              "Could not save the job \u201CNightly\u201D \u2014 No space left on device"},
             {{"run", "Nightly"}, "Could not save the run history \u2014 No space left on device"},
         }) {
        auto result = ctl(c.arguments, environment, "Tidy up\n");
        EXPECT_EQ(result.exitStatus, 1) << c.arguments[0] << "\n" << result.out << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("Added"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("Paused"), std::string::npos) << result.out;
    }
}

// A synchroniser's copy of a job file: delete removes both, so the job is gone.
TEST(StoreCommands, DeleteRemovesEveryFileOfTheJob) {
    test::TempDir data;
    Job job = test::makeJob("Nightly", "0 9 * * *");
    JobStore(data / "Marrowbell/Jobs").save(job);
    fs::copy_file(data / "Marrowbell/Jobs" / (job.id.text() + ".json"),
                  data / "Marrowbell/Jobs/mycopy.json");
    auto listed = ctl({"jobs"}, environmentFor(data.path()));
    EXPECT_NE(listed.err.find("mycopy.json"), std::string::npos) << "the copy is reported";
    auto deleted = ctl({"delete", job.id.text()}, environmentFor(data.path()));
    EXPECT_EQ(deleted.exitStatus, 0) << deleted.err;
    EXPECT_TRUE(fs::is_empty(data / "Marrowbell/Jobs"));
    EXPECT_EQ(ctl({"jobs"}, environmentFor(data.path())).out.find("Nightly"), std::string::npos);
}

// Told once: the damaged history is moved aside and the warning is not repeated.
TEST(StoreCommands, ADamagedHistoryIsWarnedAboutOnceAndKept) {
    test::TempDir data;
    test::writeFile(data / "Marrowbell/runs.json", "[{\"jobID\": \"AAAA");
    auto first = ctl({"runs"}, environmentFor(data.path()));
    EXPECT_EQ(first.exitStatus, 0);
    EXPECT_NE(first.err.find("marrowbellctl: warning: "), std::string::npos) << first.err;
    EXPECT_NE(first.err.find("runs.json.damaged-"), std::string::npos) << first.err;
    auto second = ctl({"runs"}, environmentFor(data.path()));
    EXPECT_EQ(second.err, "");
}

// Special files among the jobs neither hang a command nor fill its memory.
TEST(StoreCommands, SpecialFilesAmongTheJobsAreSkipped) {
    test::TempDir data;
    Job job = test::makeJob("Nightly", "0 9 * * *");
    JobStore(data / "Marrowbell/Jobs").save(job);
    ASSERT_EQ(::mkfifo((data / "Marrowbell/Jobs/f.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", data / "Marrowbell/Jobs/z.json");
    auto result = ctl({"jobs"}, environmentFor(data.path()));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("Nightly"), std::string::npos);
    EXPECT_NE(result.err.find("f.json was skipped: it is not a regular file"), std::string::npos)
        << result.err;
}

} // namespace
