#include "harness/ModelCatalog.h"

#include "base/Utf8.h"
#include "harness/CommandBuilder.h"
#include "harness/ListingText.h"
#include "harness/ResolutionCache.h"

#include <algorithm>
#include <unordered_set>

namespace marrowbell {

namespace {

std::vector<std::string> withoutRepeats(std::vector<std::string> items) {
    std::vector<std::string> kept;
    std::unordered_set<std::string> seen;
    for (std::string& item : items)
        if (!item.empty() && seen.insert(item).second)
            kept.push_back(std::move(item));
    return kept;
}

std::vector<ModelOption> plainOptions(const std::vector<std::string>& ids) {
    std::vector<ModelOption> options;
    for (const std::string& id : ids)
        options.push_back({id, std::nullopt});
    return options;
}

void replaceAll(std::string& text, std::string_view what, std::string_view with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

} // namespace

std::string ModelCatalog::run(const std::filesystem::path& executable,
                              const std::vector<std::string>& arguments, Seconds timeout,
                              ChildProcess::Stream stream) {
    ChildProcess process;
    process.executable = executable;
    process.arguments = arguments;
    process.environment = CommandBuilder::environment(executable);
    process.workingDirectory = CommandBuilder::discoveryDirectory();
    process.captured = stream;
    process.timeout = timeout;
    ChildProcess::Result result = process.run();
    if (!result.started || result.timedOut || !utf8::isValid(result.output))
        return "";
    return std::move(result.output);
}

std::vector<ModelOption>
ModelCatalog::models(const std::optional<ModelSource>& source,
                     const std::optional<std::filesystem::path>& executable) {
    if (!source || !executable)
        return {};
    if (auto* list = std::get_if<ModelSource::List>(&source->kind))
        return plainOptions(identifiersInList(run(*executable, list->arguments, listingTimeout)));
    if (auto* table = std::get_if<ModelSource::Table>(&source->kind))
        return plainOptions(
            identifiersInTable(run(*executable, table->arguments, listingTimeout,
                                   table->fromStandardError ? ChildProcess::Stream::standardError
                                                            : ChildProcess::Stream::standardOutput),
                               table->columns));
    if (auto* json = std::get_if<ModelSource::JsonList>(&source->kind))
        return plainOptions(identifiersInJson(run(*executable, json->arguments, listingTimeout),
                                              json->array, json->identifier));
    const auto& help = std::get<ModelSource::HelpAliases>(source->kind);
    std::vector<std::string> aliases =
        aliasesInHelp(run(*executable, {"--help"}, listingTimeout), help.flag);
    if (!help.resolve)
        return plainOptions(aliases);
    const ModelResolution& resolution = *help.resolve;
    const std::filesystem::path& program = *executable;
    auto details = inParallel<std::string, std::string>(
        aliases, [&](const std::string& alias) { return resolved(alias, resolution, program); });
    std::vector<ModelOption> options;
    for (std::size_t i = 0; i < aliases.size(); ++i)
        options.push_back({aliases[i], details[i]});
    return options;
}

bool ModelCatalog::retains(const std::string& model, const std::vector<ModelOption>& options) {
    if (model.empty() || options.empty())
        return true;
    return std::any_of(options.begin(), options.end(),
                       [&](const ModelOption& option) { return option.id == model; });
}

std::vector<std::string> ModelCatalog::identifiersInList(std::string_view output) {
    std::vector<std::string> ids;
    for (std::string_view line : listing::lines(output)) {
        std::string_view id = utf8::trimmed(line, false);
        if (!id.empty() && id.find(' ') == std::string_view::npos && !id.ends_with(':'))
            ids.emplace_back(id);
    }
    return withoutRepeats(std::move(ids));
}

std::vector<std::string> ModelCatalog::identifiersInTable(std::string_view output,
                                                          const std::vector<int>& columns) {
    if (columns.empty())
        return {};
    int largest = *std::max_element(columns.begin(), columns.end());
    if (*std::min_element(columns.begin(), columns.end()) < 0)
        return {};
    std::vector<std::string> ids;
    std::vector<std::string_view> lines = listing::lines(output);
    for (std::size_t index = 1; index < lines.size(); ++index) {
        std::vector<std::string> cells = listing::cells(lines[index]);
        if (largest >= static_cast<int>(cells.size()))
            continue;
        std::string id;
        for (std::size_t k = 0; k < columns.size(); ++k)
            id += (k ? "/" : "") + cells[static_cast<std::size_t>(columns[k])];
        ids.push_back(std::move(id));
    }
    return withoutRepeats(std::move(ids));
}

std::vector<std::string> ModelCatalog::identifiersInJson(std::string_view output,
                                                         const std::string& array,
                                                         const std::string& identifier) {
    auto document = json::parse(output);
    if (!document || !document->is_object())
        return {};
    auto list = document->find(array);
    if (list == document->end() || !list->is_array())
        return {};
    std::vector<std::string> ids;
    for (const Json& item : *list) {
        if (!item.is_object())
            return {};
        auto id = item.find(identifier);
        if (id != item.end() && id->is_string())
            ids.push_back(id->get<std::string>());
    }
    return withoutRepeats(std::move(ids));
}

std::vector<std::string> ModelCatalog::aliasesInHelp(std::string_view help,
                                                     const std::string& flag) {
    std::vector<std::string_view> lines = listing::lines(help);
    auto first = std::find_if(lines.begin(), lines.end(), [&](std::string_view line) {
        return line.find(flag) != std::string_view::npos;
    });
    if (first == lines.end())
        return {};
    std::string joined;
    for (auto it = first; it != lines.end() && it - first <= 5; ++it)
        joined += (it == first ? "" : " ") + std::string(*it);
    std::vector<std::string> aliases;
    std::size_t open = joined.find('\'');
    while (open != std::string::npos) {
        std::size_t close = joined.find('\'', open + 1);
        if (close == std::string::npos)
            break;
        std::string segment = joined.substr(open + 1, close - open - 1);
        if (!segment.empty() && segment.size() < 25 && segment.find(' ') == std::string::npos)
            aliases.push_back(std::move(segment));
        open = joined.find('\'', close + 1);
    }
    return withoutRepeats(std::move(aliases));
}

std::optional<std::string> ModelCatalog::resolved(const std::string& alias,
                                                  const ModelResolution& resolution,
                                                  const std::filesystem::path& executable) {
    std::string key = executable.string() + "|" + alias;
    if (auto cached = ResolutionCache::shared().value(key))
        return cached;
    std::vector<std::string> arguments = resolution.arguments;
    for (std::string& argument : arguments)
        replaceAll(argument, "{model}", alias);
    std::string output = run(executable, arguments, resolutionTimeout);
    for (std::string_view line : listing::lines(output)) {
        auto object = json::parse(line);
        if (!object || !object->is_object())
            continue;
        auto value = object->find(resolution.key);
        if (value == object->end() || !value->is_string() || value->get<std::string>().empty())
            continue;
        std::string detail = value->get<std::string>();
        ResolutionCache::shared().store(key, detail);
        return detail;
    }
    return std::nullopt;
}

} // namespace marrowbell
