#include "base/StoreError.h"

namespace marrowbell {

StoreError::StoreError(std::error_code cause, std::string message)
    : std::system_error(cause)
    , message_(std::move(message)) {}

StoreError StoreError::couldNotSave(const std::string& subject, std::error_code cause,
                                    const std::string& reason) {
    return StoreError(cause, "Could not save " + subject + " \u2014 " +
                                 (reason.empty() ? cause.message() : reason));
}

} // namespace marrowbell
