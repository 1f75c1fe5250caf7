#pragma once

// Typed reads shared by the manifest records' decoders (not part of any contract).

#include "base/Json.h"

#include <map>
#include <string>
#include <vector>

namespace marrowbell::manifest {

std::vector<std::string> requiredStrings(const Json& object, const char* key);
std::vector<int> requiredInts(const Json& object, const char* key);
int requiredInt(const Json& object, const char* key);
// A required object; the DecodeError names `key`.
const Json& requiredObject(const Json& object, const char* key);
// An object of strings, keys kept as written.
std::map<std::string, std::string> stringMap(const Json& value, const char* key);

} // namespace marrowbell::manifest
