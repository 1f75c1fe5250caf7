#include "harness/ManifestDecoding.h"

#include <climits>

namespace marrowbell::manifest {

static DecodeError wrongType(const char* key, const char* expected) {
    return DecodeError(std::string("\"") + key + "\" is not " + expected);
}

std::vector<std::string> requiredStrings(const Json& object, const char* key) {
    auto strings = json::optionalStrings(object, key);
    if (!strings)
        throw DecodeError(std::string("\"") + key + "\" is missing");
    return *strings;
}

std::vector<int> requiredInts(const Json& object, const char* key) {
    const Json& list = object.contains(key) && !object.at(key).is_null()
                           ? object.at(key)
                           : throw DecodeError(std::string("\"") + key + "\" is missing");
    if (!list.is_array())
        throw wrongType(key, "a list");
    std::vector<int> out;
    for (const Json& item : list) {
        if (!item.is_number_integer())
            throw wrongType(key, "a list of integers");
        auto n = item.get<std::int64_t>();
        if (n < INT_MIN || n > INT_MAX)
            throw wrongType(key, "a list of integers");
        out.push_back(static_cast<int>(n));
    }
    return out;
}

int requiredInt(const Json& object, const char* key) {
    auto n = json::requiredInt(object, key);
    if (n < INT_MIN || n > INT_MAX)
        throw wrongType(key, "an integer");
    return static_cast<int>(n);
}

const Json& requiredObject(const Json& object, const char* key) {
    if (!json::has(object, key))
        throw DecodeError(std::string("\"") + key + "\" is missing");
    const Json& value = object.at(key);
    if (!value.is_object())
        throw wrongType(key, "an object");
    return value;
}

std::map<std::string, std::string> stringMap(const Json& value, const char* key) {
    if (!value.is_object())
        throw wrongType(key, "an object");
    std::map<std::string, std::string> out;
    for (const auto& [name, item] : value.items()) {
        if (!item.is_string())
            throw wrongType(key, "an object of strings");
        out[name] = item.get<std::string>();
    }
    return out;
}

} // namespace marrowbell::manifest
