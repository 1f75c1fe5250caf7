#pragma once

#include "base/Files.h"
#include "job/JobStore.h"
#include "run/RunHistory.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace marrowbell::test {

// marrowbellctl started in the background with a private support folder and home, its
// standard output and error going to files, so a test can signal it while it runs.
class BackgroundCtl {
public:
    BackgroundCtl(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, const std::filesystem::path& logs) {
        std::map<std::string, std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string entry(*e);
            env[entry.substr(0, entry.find('='))] = entry;
        }
        for (const auto& entry : environment)
            env[entry.substr(0, entry.find('='))] = entry;
        std::vector<std::string> args{builtBinary("marrowbellctl").string()};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& [name, entry] : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        out_ = logs.string() + ".out";
        err_ = logs.string() + ".err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            throw std::runtime_error("cannot start marrowbellctl");
    }
    ~BackgroundCtl() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    void signal(int number) const { ::kill(pid_, number); }
    // The exit status (128 + signal when killed), or -1 when it has not ended in time.
    int wait(std::chrono::seconds limit = std::chrono::seconds(30)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    std::string out() const { return files::read(out_).value_or(""); }
    std::string err() const { return files::read(err_).value_or(""); }

private:
    pid_t pid_ = -1;
    std::string out_;
    std::string err_;
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
        if (!std::filesystem::exists(file))
            return {};
        return RunHistory(file).allRuns();
    }

    TempDir root;
};

} // namespace marrowbell::test
