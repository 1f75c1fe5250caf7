#pragma once

#include <string>
#include <system_error>

namespace marrowbell {

// A store could not keep a change. Its text is the message for the user, such as
// "Could not save the run history — No space left on device"; `code()` is the cause.
class StoreError : public std::system_error {
public:
    StoreError(std::error_code cause, std::string message);
    const char* what() const noexcept override { return message_.c_str(); }

    // "Could not save {subject} — {reason}".
    static StoreError couldNotSave(const std::string& subject, std::error_code cause,
                                   const std::string& reason = {});

private:
    std::string message_;
};

} // namespace marrowbell
