#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace marrowbell {

// The one error of RunExecutor::run: the process could not be launched. The text is
// the user-facing message, "Could not start {path} — {reason}".
class RunExecutorError : public std::runtime_error {
public:
    static RunExecutorError couldNotStart(const std::filesystem::path& executable,
                                          const std::string& reason);

    const std::filesystem::path& executable() const { return executable_; }
    // The operating system's description of the failure ("No such file or directory").
    const std::string& underlying() const { return underlying_; }

private:
    RunExecutorError(std::filesystem::path executable, std::string underlying);

    std::filesystem::path executable_;
    std::string underlying_;
};

} // namespace marrowbell
