#pragma once

#include "base/FileUrl.h"
#include "base/Instant.h"
#include "base/Uuid.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace marrowbell {

using Json = nlohmann::json;

// A stored document that does not decode: a missing or null required key, a value
// of the wrong type, or a value outside its allowed set. The text names the key.
struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

namespace json {

// Pretty-printed (two-space indent, one key per line) with keys sorted, as every
// stored file is written. Invalid UTF-8 in strings is replaced, never thrown on.
std::string pretty(const Json& value);

// Parses a whole document; none when the bytes are not JSON.
std::optional<Json> parse(std::string_view bytes);

// Strict typed reads of one key of an object. `required*` throw DecodeError when
// the key is missing, null or of the wrong type; `optional*` answer none for a
// missing or null key and throw DecodeError for a wrong type.
const Json& object(const Json& value, const char* what);
std::string requiredString(const Json& object, const char* key);
std::optional<std::string> optionalString(const Json& object, const char* key);
bool requiredBool(const Json& object, const char* key);
std::optional<bool> optionalBool(const Json& object, const char* key);
double requiredDouble(const Json& object, const char* key);
std::optional<double> optionalDouble(const Json& object, const char* key);
std::int64_t requiredInt(const Json& object, const char* key);
std::optional<std::int64_t> optionalInt(const Json& object, const char* key);
Uuid requiredUuid(const Json& object, const char* key);
std::optional<Uuid> optionalUuid(const Json& object, const char* key);
Instant requiredInstant(const Json& object, const char* key);
std::optional<Instant> optionalInstant(const Json& object, const char* key);
FileUrl requiredFileUrl(const Json& object, const char* key);
std::optional<std::vector<std::string>> optionalStrings(const Json& object, const char* key);

// Present and not null.
bool has(const Json& object, const char* key);

} // namespace json
} // namespace marrowbell
