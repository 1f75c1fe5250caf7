#include "run/RunExecutorError.h"

namespace marrowbell {

RunExecutorError::RunExecutorError(std::filesystem::path executable, std::string underlying)
    : std::runtime_error("Could not start " + executable.string() + " \xE2\x80\x94 " + underlying)
    , executable_(std::move(executable))
    , underlying_(std::move(underlying)) {}

RunExecutorError RunExecutorError::couldNotStart(const std::filesystem::path& executable,
                                                 const std::string& reason) {
    return RunExecutorError(executable, reason);
}

} // namespace marrowbell
