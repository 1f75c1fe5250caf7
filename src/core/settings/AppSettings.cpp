#include "settings/AppSettings.h"

namespace marrowbell {

AppSettings AppSettings::fromJson(const Json& value) {
    const Json& object = json::object(value, "the settings");
    AppSettings settings;
    if (json::has(object, "defaults"))
        settings.defaults = RunLimits::fromJson(object.at("defaults"));
    settings.defaultHarnessID = json::optionalString(object, "defaultHarnessID");
    settings.defaultEndpointID = json::optionalUuid(object, "defaultEndpointID");
    settings.catchUpGraceSeconds =
        json::optionalDouble(object, "catchUpGraceSeconds").value_or(3600);
    return settings;
}

Json AppSettings::toJson() const {
    Json object = {{"defaults", defaults.toJson()}, {"catchUpGraceSeconds", catchUpGraceSeconds}};
    if (defaultHarnessID)
        object["defaultHarnessID"] = *defaultHarnessID;
    if (defaultEndpointID)
        object["defaultEndpointID"] = defaultEndpointID->text();
    return object;
}

} // namespace marrowbell
