#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace marrowbell {

// Why a text is not a cron schedule. `what()` is the user-facing message.
class CronError : public std::runtime_error {
public:
    enum class Kind { wrongFieldCount, invalidField };

    // "A cron expression needs 5 fields (minute hour day month weekday); found {found}."
    static CronError wrongFieldCount(std::int64_t found);
    // "The {name} field does not accept "{value}"."
    static CronError invalidField(std::string name, std::string value);

    Kind kind() const { return kind_; }
    std::int64_t found() const { return found_; }       // wrongFieldCount only
    const std::string& name() const { return name_; }   // invalidField only
    const std::string& value() const { return value_; } // invalidField only
    std::string message() const { return what(); }

    friend bool operator==(const CronError& a, const CronError& b) {
        return a.kind_ == b.kind_ && a.found_ == b.found_ && a.name_ == b.name_ &&
               a.value_ == b.value_;
    }

private:
    CronError(Kind kind, std::int64_t found, std::string name, std::string value);

    Kind kind_;
    std::int64_t found_;
    std::string name_;
    std::string value_;
};

} // namespace marrowbell
