#pragma once

#include "base/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// A read-only view of a decoded JSON object, with the typed reads the event parsers
// use. A field counts as present only when its key exists and its value has the
// asked-for type; anything else reads as absent. The viewed value must outlive it.
class JSONObject {
public:
    // `raw` must be an object.
    explicit JSONObject(const Json& raw)
        : raw_(&raw) {}

    const Json& raw() const { return *raw_; }

    std::optional<std::string_view> string(const char* key) const;
    // A whole number within 64 bits (written with or without a fraction, "12" or "12.0").
    std::optional<std::int64_t> integer(const char* key) const;
    std::optional<JSONObject> object(const char* key) const;
    bool isTrue(const char* key) const; // the boolean true

    // The value under `key` when it is an array holding only objects; otherwise empty.
    std::vector<JSONObject> array(const char* key) const;

    // The "text" strings of `array(key)`'s objects, in order, joined by newlines;
    // none when there are none.
    std::optional<std::string> joinedText(const char* key) const;

private:
    const Json* find(const char* key) const;

    const Json* raw_;
};

} // namespace marrowbell
