// What marrowbellctl does when its files are shared, damaged, special or cannot be
// written: nothing is lost, and nothing that failed is reported as done.
#include "ctl/SchedulerCommandSupport.h"
#include "endpoint/SecretStore.h"

#include <sys/stat.h>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using StoreCommands = test::CtlTest;

// Commands at once on one support folder: sixty endpoint adds and thirty key saves.
TEST_F(StoreCommands, ParallelCommandsLoseNoChange) {
    std::vector<Endpoint> keyed;
    for (int i = 0; i < 30; ++i)
        keyed.push_back(endpoint("keyed" + std::to_string(i)));
    std::vector<test::ProcessResult> results(90);
    std::vector<std::thread> threads;
    for (int i = 0; i < 90; ++i)
        threads.emplace_back([&, i] {
            results[i] = i < 30 ? ctl({"endpoints", "set-key", keyed[i].id.text()},
                                      "key-" + std::to_string(i) + "\n")
                                : ctl({"endpoints", "add", "ep" + std::to_string(i),
                                       "http://127.0.0.1:1234", "ollama"});
        });
    for (auto& thread : threads)
        thread.join();
    for (const auto& result : results)
        EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(EndpointStore(support() / "endpoints.json").endpoints().size(), 90u);
    SecretStore secrets(std::string(SecretStore::endpointService), SecretStore::Backend::file,
                        support() / "secrets.json");
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(secrets.secret(keyed[i].id), "key-" + std::to_string(i)) << i;
}

// A full disk: every command that could not write says so and exits 1.
TEST_F(StoreCommands, WritesThatFailOnAFullDiskAreReportedAndExitOne) {
    test::SmallFilesystem disk;
    if (disk.unavailable())
        GTEST_SKIP() << *disk.unavailable();
    harness("cat >/dev/null\n"
            "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
            "\"result\":\"done\"}'\n");
    env.push_back("XDG_DATA_HOME=" + disk.path().string());
    JobStore(disk / "Marrowbell/Jobs").save(job("Nightly", Instant::now(), "0 9 * * *"));
    disk.fill();

    const std::string full = " \u2014 No space left on device";
    for (const auto& [arguments, message] : std::vector<std::pair<std::string, std::string>>{
             {"endpoints|add|Studio|http://127.0.0.1:1234|lmStudio",
              "Could not save the endpoints" + full},
             {"add|Other|--folder|" + work().string() + "|--harness|claude|--schedule|0 9 * * *",
              "Could not save the job \u201COther\u201D" + full},
             {"pause|Nightly", "Could not save the job \u201CNightly\u201D" + full},
             {"run|Nightly", "Could not save the run history" + full}}) {
        auto result = ctl(test::split(arguments), "Tidy up\n");
        EXPECT_EQ(result.exitStatus, 1) << arguments << "\n" << result.out << result.err;
        EXPECT_THAT(result.err, HasSubstr(message));
        EXPECT_THAT(result.out, Not(HasSubstr("Added")));
        EXPECT_THAT(result.out, Not(HasSubstr("Paused")));
    }
}

// Told once: the damaged history is moved aside and the warning is not repeated.
TEST_F(StoreCommands, ADamagedHistoryIsWarnedAboutOnceAndKept) {
    test::writeFile(support() / "runs.json", "[{\"jobID\": \"AAAA");
    auto first = ctl({"runs"});
    EXPECT_EQ(first.exitStatus, 0);
    EXPECT_THAT(first.err, HasSubstr("marrowbellctl: warning: "));
    EXPECT_THAT(first.err, HasSubstr("runs.json.damaged-"));
    EXPECT_EQ(ctl({"runs"}).err, "");
}

// Special files among the jobs neither hang a command nor fill its memory.
TEST_F(StoreCommands, SpecialFilesAmongTheJobsAreSkipped) {
    saved(job("Nightly"));
    ASSERT_EQ(::mkfifo((support() / "Jobs/f.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", support() / "Jobs/z.json");
    auto result = ctl({"jobs"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Nightly"));
    EXPECT_THAT(result.err, HasSubstr("f.json was skipped: it is not a regular file"));
}

} // namespace
} // namespace marrowbell
