#include "harness/ModelSource.h"

#include "harness/ManifestDecoding.h"

namespace marrowbell {

ModelSource ModelSource::decode(const Json& value) {
    json::object(value, "\"models\"");
    std::string kind = json::requiredString(value, "kind");
    if (kind == "table")
        return {Table{manifest::requiredStrings(value, "arguments"),
                      manifest::requiredInts(value, "columns"),
                      json::optionalBool(value, "fromStandardError").value_or(false)}};
    if (kind == "json")
        return {JsonList{manifest::requiredStrings(value, "arguments"),
                         json::requiredString(value, "array"),
                         json::requiredString(value, "identifier")}};
    if (kind == "helpAliases") {
        HelpAliases aliases{json::requiredString(value, "flag"), std::nullopt};
        if (json::has(value, "resolve")) {
            const Json& resolve = manifest::requiredObject(value, "resolve");
            aliases.resolve = ModelResolution{manifest::requiredStrings(resolve, "arguments"),
                                              json::requiredString(resolve, "key")};
        }
        return {aliases};
    }
    return {List{manifest::requiredStrings(value, "arguments")}};
}

} // namespace marrowbell
