#pragma once

#include <cstring>
#include <stdexcept>
#include <string>

namespace marrowbell::sandbox {

// A reason the tool cannot be started confined; the text is the one line the
// launcher prints before refusing.
class LaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    // `what` followed by ": " and the text of `error` (an errno value).
    static LaunchError system(const std::string& what, int error) {
        return LaunchError(what + ": " + std::strerror(error));
    }
};

} // namespace marrowbell::sandbox
