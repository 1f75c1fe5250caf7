#pragma once

#include <stdexcept>

namespace marrowbell::app {

// Whether the application starts when the user logs in.
class LoginItem {
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    // A change that could not be made; the text is the platform's description.
    struct Error : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    virtual ~LoginItem() = default;

    virtual Status status() const = 0;
    // Registers (true) or unregisters (false) the application. Throws Error.
    virtual void setEnabled(bool enabled) = 0;
};

} // namespace marrowbell::app
