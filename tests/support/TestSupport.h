#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
public:
    // In $TMPDIR, else /tmp.
    TempDir();
    // In `parent`, created when missing.
    explicit TempDir(const std::filesystem::path& parent);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A small tmpfs mounted at a fresh folder in a mount namespace of the calling thread's
// own (threads and processes it starts later share it), so a test can fill a disk or
// make one read-only without touching the machine. Where mounting is not permitted,
// `unavailable()` says why and the test skips.
class SmallFilesystem {
public:
    explicit SmallFilesystem(std::size_t bytes = 256 * 1024);
    ~SmallFilesystem();
    SmallFilesystem(const SmallFilesystem&) = delete;
    SmallFilesystem& operator=(const SmallFilesystem&) = delete;

    const std::optional<std::string>& unavailable() const { return unavailable_; }
    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

    // Takes every free byte with a file; `makeRoom` removes it again.
    void fill();
    void makeRoom();
    void makeReadOnly();

private:
    TempDir dir_;
    std::optional<std::string> unavailable_;
    bool mounted_ = false;
};

// Writes a file, creating its folders; `executable` sets mode 0755.
void writeFile(const std::filesystem::path& path, const std::string& content,
               bool executable = false);

struct ProcessResult {
    int exitStatus = -1; // the exit code, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program to completion with `input` on standard input. `environment`
// entries ("NAME=value") are added to (or replace) the test's own environment.
ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& input = "",
                         const std::vector<std::string>& environment = {});

// Polls `condition` every 10 ms until it holds or `limit` has passed; its last answer.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(30));

// The copies of `file` a store set aside as damaged, beside it ("<name>.damaged-…").
std::vector<std::filesystem::path> setAside(const std::filesystem::path& file);

// Path of a binary built by this project (marrowbellctl, marrowbell-sandbox…).
std::filesystem::path builtBinary(const std::string& name);

} // namespace marrowbell::test
