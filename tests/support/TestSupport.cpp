#include "support/TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sched.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace marrowbell::test {

namespace fs = std::filesystem;

TempDir::TempDir()
    : TempDir(std::getenv("TMPDIR") && *std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") {}

TempDir::TempDir(const fs::path& parent) {
    fs::create_directories(parent);
    std::string pattern = (parent / "marrowbell-test.XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = fs::canonical(pattern);
}

TempDir::~TempDir() {
    std::error_code error;
    // Tests may leave read-only folders behind; make them writable first.
    for (auto it = fs::recursive_directory_iterator(path_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        if (it->is_directory(error))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

SmallFilesystem::SmallFilesystem(std::size_t bytes) {
    auto fail = [&](const std::string& what) {
        unavailable_ = what + ": " + std::strerror(errno) + " (a tmpfs is needed to fill a disk)";
    };
    std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::unshare(CLONE_NEWNS) != 0)
        fail("cannot make a mount namespace");
    else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        fail("cannot make the mounts private");
    else if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                     options.c_str()) != 0)
        fail("cannot mount a tmpfs");
    else
        mounted_ = true;
}

SmallFilesystem::~SmallFilesystem() {
    if (mounted_)
        ::umount2(dir_.path().c_str(), MNT_DETACH);
}

void SmallFilesystem::fill() {
    int fd = ::open((dir_ / ".filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot create the filler file");
    std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    // Whatever is left is smaller than a page; take it byte by byte.
    while (::write(fd, "x", 1) > 0) {
    }
    ::close(fd);
}

void SmallFilesystem::makeRoom() {
    fs::remove(dir_ / ".filler");
}

void SmallFilesystem::makeReadOnly() {
    if (::mount(nullptr, dir_.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        throw std::runtime_error(std::string("cannot remount read-only: ") + std::strerror(errno));
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value)
    : name_(name) {
    if (const char* old = std::getenv(name))
        old_ = old;
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        ::setenv(name_, old_->c_str(), 1);
    else
        ::unsetenv(name_);
}

void writeFile(const fs::path& path, const std::string& content, bool executable) {
    fs::create_directories(path.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }
    fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644));
}

ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& input,
                         const std::vector<std::string>& environment) {
    ::signal(SIGPIPE, SIG_IGN); // a child that exits before reading its input
    std::map<std::string, std::string> env;
    auto add = [&](const std::string& entry) { env[entry.substr(0, entry.find('='))] = entry; };
    for (char** e = environ; *e; ++e)
        add(*e);
    std::ranges::for_each(environment, add);
    std::vector<std::string> args = arguments;
    std::vector<char*> envp, argv;
    for (auto& [name, entry] : env)
        envp.push_back(entry.data());
    for (auto& a : args)
        argv.push_back(a.data());
    envp.push_back(nullptr);
    argv.push_back(nullptr);

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[0], out[1], err[1]})
        ::close(fd);
    ProcessResult result;
    // Each stream on a thread of its own, so that a full pipe never stalls the others.
    auto drain = [](int fd, std::string& into) {
        char buffer[65536];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;)
            if (n > 0)
                into.append(buffer, static_cast<std::size_t>(n));
            else if (errno != EINTR)
                break;
        ::close(fd);
    };
    std::thread writer([&, fd = in[1]] {
        for (std::size_t written = 0; spawned == 0 && written < input.size();) {
            ssize_t n = ::write(fd, input.data() + written, input.size() - written);
            if (n < 0 && errno != EINTR)
                break;
            written += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        ::close(fd);
    });
    std::thread errors(drain, err[0], std::ref(result.err));
    drain(out[0], result.out);
    writer.join();
    errors.join();
    if (spawned != 0) {
        result.err = "cannot start " + arguments.at(0);
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::vector<fs::path> setAside(const fs::path& file) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
        if (entry.path().filename().string().starts_with(file.filename().string() + ".damaged-"))
            found.push_back(entry.path());
    return found;
}

fs::path builtBinary(const std::string& name) {
    return fs::path(MARROWBELL_BIN_DIR) / name;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

} // namespace marrowbell::test
