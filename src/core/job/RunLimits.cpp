#include "job/RunLimits.h"

namespace marrowbell {

RunLimits RunLimits::fromJson(const Json& value) {
    const Json& object = json::object(value, "limits");
    RunLimits limits;
    limits.timeoutSeconds = json::optionalDouble(object, "timeoutSeconds").value_or(3600);
    limits.notifyOnFailureOnly = json::optionalBool(object, "notifyOnFailureOnly").value_or(true);
    return limits;
}

Json RunLimits::toJson() const {
    return Json{{"timeoutSeconds", timeoutSeconds}, {"notifyOnFailureOnly", notifyOnFailureOnly}};
}

} // namespace marrowbell
