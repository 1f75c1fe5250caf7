#include "job/LimitOverrides.h"

namespace marrowbell {

LimitOverrides LimitOverrides::fromJson(const Json& value) {
    return {json::optionalDouble(json::object(value, "limitOverrides"), "timeoutSeconds")};
}

Json LimitOverrides::toJson() const {
    Json object = Json::object();
    if (timeoutSeconds)
        object["timeoutSeconds"] = *timeoutSeconds;
    return object;
}

} // namespace marrowbell
