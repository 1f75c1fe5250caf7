#include "run/JSONObject.h"

#include <cmath>

namespace marrowbell {

const Json* JSONObject::find(const char* key) const {
    auto it = raw_->find(key);
    return it == raw_->end() ? nullptr : &*it;
}

std::optional<std::string_view> JSONObject::string(const char* key) const {
    const Json* value = find(key);
    if (!value || !value->is_string())
        return std::nullopt;
    return std::string_view(value->get_ref<const std::string&>());
}

std::optional<std::int64_t> JSONObject::integer(const char* key) const {
    const Json* value = find(key);
    if (!value)
        return std::nullopt;
    if (value->is_number_unsigned()) {
        auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(INT64_MAX))
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    if (value->is_number_integer())
        return value->get<std::int64_t>();
    if (value->is_number_float()) {
        double number = value->get<double>();
        // [-2^63, 2^63): the doubles that convert without overflow.
        if (std::isfinite(number) && number == std::trunc(number) &&
            number >= -9.2233720368547758e18 && number < 9.2233720368547758e18)
            return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

std::optional<JSONObject> JSONObject::object(const char* key) const {
    const Json* value = find(key);
    if (!value || !value->is_object())
        return std::nullopt;
    return JSONObject(*value);
}

bool JSONObject::isTrue(const char* key) const {
    const Json* value = find(key);
    return value && value->is_boolean() && value->get<bool>();
}

std::vector<JSONObject> JSONObject::array(const char* key) const {
    const Json* value = find(key);
    std::vector<JSONObject> objects;
    if (!value || !value->is_array())
        return objects;
    objects.reserve(value->size());
    for (const Json& element : *value) {
        if (!element.is_object())
            return {};
        objects.emplace_back(element);
    }
    return objects;
}

std::optional<std::string> JSONObject::joinedText(const char* key) const {
    std::optional<std::string> joined;
    for (const JSONObject& element : array(key)) {
        if (auto text = element.string("text")) {
            if (joined)
                *joined += '\n';
            else
                joined.emplace();
            joined->append(*text);
        }
    }
    return joined;
}

} // namespace marrowbell
