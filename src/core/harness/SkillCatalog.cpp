#include "harness/SkillCatalog.h"

#include "base/Files.h"
#include "base/HomeFolder.h"
#include "base/Utf8.h"
#include "harness/ChildProcess.h"
#include "harness/CommandBuilder.h"
#include "harness/ListingText.h"

#include <algorithm>
#include <unordered_set>

namespace marrowbell {

namespace {

// A listing command's output; empty when it cannot start, fails, hangs or is not UTF-8.
std::string runListing(const std::filesystem::path& executable,
                       const std::vector<std::string>& arguments) {
    ChildProcess process;
    process.executable = executable;
    process.arguments = arguments;
    process.environment = CommandBuilder::environment(executable);
    process.workingDirectory = CommandBuilder::discoveryDirectory();
    process.timeout = SkillCatalog::listingTimeout;
    ChildProcess::Result result = process.run();
    if (!result.started || result.timedOut || result.exitStatus != 0 ||
        !utf8::isValid(result.output))
        return "";
    return std::move(result.output);
}

std::vector<Skill> named(const std::vector<std::string>& names) {
    std::vector<Skill> skills;
    for (const std::string& name : names)
        skills.push_back({name, name, std::nullopt});
    std::stable_sort(skills.begin(), skills.end());
    return skills;
}

std::vector<Skill> fromDirectory(const SkillSource::Directory& directory) {
    std::filesystem::path folder = expandingTilde(directory.path);
    std::vector<Skill> skills;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        return skills;
    for (auto it = entries; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error)
            break;
        std::filesystem::path file = it->path() / directory.manifest;
        std::error_code missing;
        if (!std::filesystem::exists(file, missing))
            continue;
        std::string text = files::read(file).value_or("");
        if (!utf8::isValid(text))
            text.clear();
        auto front = SkillCatalog::frontmatter(text);
        std::string id = front.count("name") ? front["name"] : it->path().filename().string();
        std::optional<std::string> summary;
        if (front.count("description"))
            summary = front["description"];
        skills.push_back({id, id, summary});
    }
    std::stable_sort(skills.begin(), skills.end());
    return skills;
}

} // namespace

std::vector<Skill> SkillCatalog::skills(const std::optional<SkillSource>& source,
                                        const std::optional<std::filesystem::path>& executable) {
    if (!source)
        return {};
    if (auto* directory = std::get_if<SkillSource::Directory>(&source->kind))
        return fromDirectory(*directory);
    if (!executable)
        return {};
    if (auto* table = std::get_if<SkillSource::Table>(&source->kind))
        return named(namesInTable(runListing(*executable, table->arguments), table->column,
                                  table->requirement));
    const auto& command = std::get<SkillSource::Command>(source->kind);
    return named(namesInListing(runListing(*executable, command.arguments)));
}

Discovery<Skill> SkillCatalog::discover(const std::optional<SkillSource>& source,
                                        const std::optional<std::filesystem::path>& executable) {
    if (!source)
        return Discovery<Skill>::unavailable();
    if (!executable && !std::holds_alternative<SkillSource::Directory>(source->kind))
        return Discovery<Skill>::unavailable();
    return Discovery<Skill>::answered(skills(source, executable));
}

std::map<std::string, std::string> SkillCatalog::frontmatter(std::string_view text) {
    std::map<std::string, std::string> values;
    std::vector<std::string_view> lines = listing::lines(text);
    if (lines.empty() || utf8::trimmed(lines[0], false) != "---")
        return values;
    std::optional<std::string> blockKey;
    std::vector<std::string> block;
    auto closeBlock = [&] {
        if (!blockKey)
            return;
        std::string joined;
        for (const std::string& part : block)
            joined += (joined.empty() ? "" : " ") + part;
        values[*blockKey] = std::string(utf8::trimmed(joined, true));
        blockKey.reset();
        block.clear();
    };
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (utf8::trimmed(line, false) == "---")
            break;
        if (blockKey && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            block.emplace_back(utf8::trimmed(line, false));
            continue;
        }
        closeBlock();
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string key(utf8::trimmed(line.substr(0, colon), false));
        std::string value(utf8::trimmed(line.substr(colon + 1), false));
        if (key.empty())
            continue;
        if (value == "|" || value == ">")
            blockKey = key;
        else if (!value.empty())
            values[key] = value;
    }
    closeBlock();
    return values;
}

bool SkillCatalog::isPlausibleName(std::string_view text) {
    if (text.empty() || text.find(' ') != std::string_view::npos)
        return false;
    if (text.find_first_of(":{}[]\",`") != std::string_view::npos)
        return false;
    if (text.starts_with('/') || text.ends_with('.'))
        return false;
    bool hasLowerCase =
        std::any_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (!hasLowerCase)
        return text.size() < 3;
    return true;
}

std::vector<std::string> SkillCatalog::namesInListing(std::string_view output) {
    std::vector<std::string> names;
    for (std::string_view line : listing::lines(output)) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t'))
            continue;
        std::string_view name = utf8::trimmed(line.substr(0, line.find(" (")), false);
        if (isPlausibleName(name))
            names.emplace_back(name);
    }
    return names;
}

std::vector<std::string>
SkillCatalog::namesInTable(std::string_view output, int column,
                           const std::optional<ColumnRequirement>& requirement) {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    if (column < 0)
        return names;
    for (std::string_view line : listing::lines(output)) {
        std::vector<std::string> cells = listing::cells(line);
        if (column >= static_cast<int>(cells.size()))
            continue;
        if (requirement) {
            if (requirement->column < 0 || requirement->column >= static_cast<int>(cells.size()) ||
                !cells[static_cast<std::size_t>(requirement->column)].starts_with(
                    requirement->hasPrefix))
                continue;
        }
        const std::string& name = cells[static_cast<std::size_t>(column)];
        if (isPlausibleName(name) && seen.insert(name).second)
            names.push_back(name);
    }
    return names;
}

} // namespace marrowbell
