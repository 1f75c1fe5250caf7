#include "base/Json.h"

#include <cmath>

namespace marrowbell::json {

std::string pretty(const Json& value) {
    return value.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<Json> parse(std::string_view bytes) {
    Json value = Json::parse(bytes, nullptr, false);
    if (value.is_discarded())
        return std::nullopt;
    return value;
}

static DecodeError wrongType(const char* key, const char* expected) {
    return DecodeError(std::string("\"") + key + "\" is not " + expected);
}

static const Json* present(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

static const Json& needed(const Json& object, const char* key) {
    const Json* value = present(object, key);
    if (!value)
        throw DecodeError(std::string("\"") + key + "\" is missing");
    return *value;
}

const Json& object(const Json& value, const char* what) {
    if (!value.is_object())
        throw DecodeError(std::string(what) + " is not an object");
    return value;
}

bool has(const Json& object, const char* key) {
    return present(object, key) != nullptr;
}

static std::string asString(const Json& value, const char* key) {
    if (!value.is_string())
        throw wrongType(key, "a string");
    return value.get<std::string>();
}

static bool asBool(const Json& value, const char* key) {
    if (!value.is_boolean())
        throw wrongType(key, "true or false");
    return value.get<bool>();
}

static double asDouble(const Json& value, const char* key) {
    if (!value.is_number())
        throw wrongType(key, "a number");
    return value.get<double>();
}

static std::int64_t asInt(const Json& value, const char* key) {
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
            throw wrongType(key, "a whole number in range");
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    }
    // A float with an exact whole value (5.0) is accepted, as lenient readers do.
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
            return static_cast<std::int64_t>(d);
    }
    throw wrongType(key, "a whole number");
}

static Uuid asUuid(const Json& value, const char* key) {
    auto id = Uuid::parse(asString(value, key));
    if (!id)
        throw wrongType(key, "an identifier");
    return *id;
}

std::string requiredString(const Json& o, const char* key) {
    return asString(needed(o, key), key);
}
bool requiredBool(const Json& o, const char* key) {
    return asBool(needed(o, key), key);
}
double requiredDouble(const Json& o, const char* key) {
    return asDouble(needed(o, key), key);
}
std::int64_t requiredInt(const Json& o, const char* key) {
    return asInt(needed(o, key), key);
}
Uuid requiredUuid(const Json& o, const char* key) {
    return asUuid(needed(o, key), key);
}
Instant requiredInstant(const Json& o, const char* key) {
    return {requiredDouble(o, key)};
}

std::optional<std::string> optionalString(const Json& o, const char* key) {
    const Json* v = present(o, key);
    return v ? std::optional(asString(*v, key)) : std::nullopt;
}
std::optional<bool> optionalBool(const Json& o, const char* key) {
    const Json* v = present(o, key);
    return v ? std::optional(asBool(*v, key)) : std::nullopt;
}
std::optional<double> optionalDouble(const Json& o, const char* key) {
    const Json* v = present(o, key);
    return v ? std::optional(asDouble(*v, key)) : std::nullopt;
}
std::optional<std::int64_t> optionalInt(const Json& o, const char* key) {
    const Json* v = present(o, key);
    return v ? std::optional(asInt(*v, key)) : std::nullopt;
}
std::optional<Uuid> optionalUuid(const Json& o, const char* key) {
    const Json* v = present(o, key);
    return v ? std::optional(asUuid(*v, key)) : std::nullopt;
}
std::optional<Instant> optionalInstant(const Json& o, const char* key) {
    auto seconds = optionalDouble(o, key);
    return seconds ? std::optional(Instant{*seconds}) : std::nullopt;
}

FileUrl requiredFileUrl(const Json& o, const char* key) {
    auto url = FileUrl::parse(requiredString(o, key));
    if (!url)
        throw wrongType(key, "a file URL");
    return *url;
}

std::optional<std::vector<std::string>> optionalStrings(const Json& o, const char* key) {
    const Json* v = present(o, key);
    if (!v)
        return std::nullopt;
    if (!v->is_array())
        throw wrongType(key, "a list");
    std::vector<std::string> out;
    out.reserve(v->size());
    for (const Json& item : *v)
        out.push_back(asString(item, key));
    return out;
}

} // namespace marrowbell::json
