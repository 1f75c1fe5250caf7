#pragma once

#include "base/Files.h"
#include "base/Json.h"
#include "job/JobStore.h"
#include "run/RunHistory.h"
#include "settings/EndpointStore.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace marrowbell::test {

// marrowbellctl started in the background, its standard output and error going to
// files (`logs` with .out and .err), so a test can signal it while it runs. A shell
// writes its process id, then becomes marrowbellctl.
class BackgroundCtl {
public:
    BackgroundCtl(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, const std::filesystem::path& logs)
        : logs_(logs.string()) {
        std::vector<std::string> argv{
            "/bin/sh", "-c", "echo $$ >\"$0.pid\"; exec \"$@\" >\"$0.out\" 2>\"$0.err\" </dev/null",
            logs_, builtBinary("marrowbellctl").string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        status_ = std::async(std::launch::async,
                             [=] { return runProcess(argv, "", environment).exitStatus; });
        if (!eventually([&] { return read(".pid").ends_with('\n'); }))
            throw std::runtime_error("cannot start marrowbellctl");
        pid_ = std::atoi(read(".pid").c_str());
    }
    ~BackgroundCtl() {
        if (status_.valid()) {
            ::kill(pid_, SIGKILL);
            status_.wait();
        }
    }

    void signal(int number) const { ::kill(pid_, number); }
    // The exit status (128 + signal when killed), or -1 when it has not ended in time.
    int wait(std::chrono::seconds limit = std::chrono::seconds(30)) {
        return status_.wait_for(limit) == std::future_status::ready ? status_.get() : -1;
    }
    std::string out() const { return read(".out"); }
    std::string err() const { return read(".err"); }

private:
    std::string read(const char* suffix) const { return files::read(logs_ + suffix).value_or(""); }

    std::string logs_;
    pid_t pid_ = -1;
    std::future<int> status_;
};

// A home with a stand-in "claude" on the manifest's search path (~/.local/bin) and a
// support folder of its own.
struct CtlHome {
    CtlHome() {
        std::filesystem::create_directories(root / "work");
        std::filesystem::create_directories(support());
        std::filesystem::create_directories(runtime());
        std::filesystem::permissions(runtime(), std::filesystem::perms::owner_all);
    }
    std::filesystem::path home() const { return root / "home"; }
    std::filesystem::path support() const { return root / "data" / "Marrowbell"; }
    std::filesystem::path work() const { return root / "work"; }
    // Where the scheduler's control socket goes: one per test, so tests running at
    // once never reach each other's scheduler.
    std::filesystem::path runtime() const { return root / "run"; }
    std::vector<std::string> environment() const {
        return {"HOME=" + home().string(), "XDG_DATA_HOME=" + (root / "data").string(),
                "XDG_RUNTIME_DIR=" + runtime().string(), "SHELL=/bin/sh"};
    }
    void harness(const std::string& body) const {
        writeFile(home() / ".local" / "bin" / "claude", "#!/bin/sh\n" + body, true);
    }
    void save(const Job& job) const { JobStore(support() / "Jobs").save(job); }
    // A job of the stand-in "claude" in the work folder, with full access.
    Job job(const std::string& name, Instant createdAt = Instant::now(),
            const std::string& schedule = "* * * * *") const {
        Job job = makeJob(name, schedule, createdAt);
        job.workingDirectory = FileUrl::fromPath(work(), true);
        job.permission = PermissionLevel::fullAccess;
        return job;
    }
    // marrowbellctl run to its end in this home.
    ProcessResult ctl(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv{builtBinary("marrowbellctl").string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return runProcess(argv, "", environment());
    }
    std::vector<RunRecord> runs() const {
        auto file = support() / "runs.json";
        return std::filesystem::exists(file) ? RunHistory(file).allRuns()
                                             : std::vector<RunRecord>{};
    }

    TempDir root;
};

// A CtlHome made this process's own while it lives, for code that reads its folders
// from the environment, as the app does.
struct ProcessHome : CtlHome {
    ScopedEnv homeVariable{"HOME", home().string()};
    ScopedEnv data{"XDG_DATA_HOME", (root / "data").string()};
    ScopedEnv runtimeDir{"XDG_RUNTIME_DIR", runtime().string()};
    ScopedEnv config{"XDG_CONFIG_HOME", (root / "config").string()};
    // No login shell to ask for its PATH.
    ScopedEnv shell{"SHELL", "/bin/false"};
};

// "add|Nightly|--folder|/x" as the arguments add, Nightly, --folder, /x.
inline std::vector<std::string> split(std::string_view text) {
    std::vector<std::string> parts;
    for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1)
        parts.emplace_back(text.substr(start, (end = text.find('|', start)) - start));
    return parts;
}

// The command-line tests' home: commands run in UTC and keep keys in the file (no
// session bus), unless a test changes `env`.
class CtlTest : public testing::Test, public CtlHome {
protected:
    std::vector<std::string> env = [this] {
        auto env = environment();
        env.insert(env.end(), {"TZ=UTC", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"});
        return env;
    }();

    ProcessResult ctl(std::vector<std::string> arguments, const std::string& input = "") const {
        arguments.insert(arguments.begin(), builtBinary("marrowbellctl").string());
        return runProcess(arguments, input, env);
    }
    std::unique_ptr<BackgroundCtl> start(const std::vector<std::string>& arguments,
                                         const std::string& logs) const {
        return std::make_unique<BackgroundCtl>(arguments, env, root / logs);
    }
    std::filesystem::path jobFile(const Job& job) const {
        return support() / "Jobs" / (job.id.text() + ".json");
    }
    std::vector<Job> jobs() const { return JobStore(support() / "Jobs").jobs(); }
    Job saved(const Job& job) const {
        save(job);
        return job;
    }
    Endpoint endpoint(const std::string& name, const std::string& url = "http://127.0.0.1:9/v1",
                      EndpointKind kind = EndpointKind::lmStudio) const {
        Endpoint endpoint{Uuid::random(), name, *Endpoint::validated(url), kind};
        EndpointStore(support() / "endpoints.json").save(endpoint);
        return endpoint;
    }
};

} // namespace marrowbell::test
