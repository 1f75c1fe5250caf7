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
    // A limit that cannot be a size (negative, not finite) keeps the default.
    if (std::optional<double> limit = json::optionalDouble(object, "transcriptLimitBytes");
        limit && *limit >= 0 && *limit < 9.2e18)
        settings.transcriptLimitBytes = static_cast<std::uint64_t>(*limit);
    return settings;
}

Json AppSettings::toJson() const {
    Json object = {{"defaults", defaults.toJson()},
                   {"catchUpGraceSeconds", catchUpGraceSeconds},
                   {"transcriptLimitBytes", transcriptLimitBytes}};
    if (defaultHarnessID)
        object["defaultHarnessID"] = *defaultHarnessID;
    if (defaultEndpointID)
        object["defaultEndpointID"] = defaultEndpointID->text();
    return object;
}

} // namespace marrowbell
