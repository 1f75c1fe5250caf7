#include "cron/CronError.h"

namespace marrowbell {

static std::string messageFor(CronError::Kind kind, std::int64_t found, const std::string& name,
                              const std::string& value) {
    if (kind == CronError::Kind::wrongFieldCount)
        return "A cron expression needs 5 fields (minute hour day month weekday); found " +
               std::to_string(found) + ".";
    return "The " + name + " field does not accept \"" + value + "\".";
}

CronError::CronError(Kind kind, std::int64_t found, std::string name, std::string value)
    : std::runtime_error(messageFor(kind, found, name, value))
    , kind_(kind)
    , found_(found)
    , name_(std::move(name))
    , value_(std::move(value)) {}

CronError CronError::wrongFieldCount(std::int64_t found) {
    return CronError(Kind::wrongFieldCount, found, {}, {});
}

CronError CronError::invalidField(std::string name, std::string value) {
    return CronError(Kind::invalidField, 0, std::move(name), std::move(value));
}

} // namespace marrowbell
