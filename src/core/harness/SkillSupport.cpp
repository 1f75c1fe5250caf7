#include "harness/SkillSupport.h"

#include "harness/ManifestDecoding.h"

namespace marrowbell {

static void replaceAll(std::string& text, std::string_view what, std::string_view with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

std::optional<std::string> SkillSupport::rendered(const std::string& skill, bool enabled) const {
    if (!templateText)
        return std::nullopt;
    std::string text = *templateText;
    replaceAll(text, "{skill}", skill);
    replaceAll(text, "{enabled}", enabled ? "true" : "false");
    return text;
}

SkillSource SkillSource::decode(const Json& value) {
    json::object(value, "\"source\"");
    std::string kind = json::requiredString(value, "kind");
    if (kind == "directory")
        return {Directory{json::requiredString(value, "path"),
                          json::requiredString(value, "manifest")}};
    if (kind == "table") {
        Table table{manifest::requiredStrings(value, "arguments"),
                    manifest::requiredInt(value, "column"), std::nullopt};
        if (json::has(value, "requires")) {
            const Json& requirement = manifest::requiredObject(value, "requires");
            table.requirement = ColumnRequirement{manifest::requiredInt(requirement, "column"),
                                                  json::requiredString(requirement, "hasPrefix")};
        }
        return {table};
    }
    return {Command{manifest::requiredStrings(value, "arguments")}};
}

SkillSupport SkillSupport::decode(const Json& value) {
    json::object(value, "\"skills\"");
    SkillSupport support;
    support.flag = json::requiredString(value, "flag");
    support.repeatable = json::requiredBool(value, "repeatable");
    if (auto style = json::optionalString(value, "style")) {
        if (*style == "additive")
            support.style = SkillStyle::additive;
        else if (*style == "toggle")
            support.style = SkillStyle::toggle;
        else
            throw DecodeError("\"style\" has an unknown value \"" + *style + "\"");
    }
    support.templateText = json::optionalString(value, "template");
    if (json::has(value, "source"))
        support.source = SkillSource::decode(value.at("source"));
    return support;
}

} // namespace marrowbell
