#pragma once

#include "base/Instant.h"
#include "harness/ChildProcess.h"
#include "harness/HarnessSpec.h"
#include "harness/ModelOption.h"

#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// Lists the models of a harness by running the command its manifest names and reading
// the output. Never fails: any problem gives fewer options or none. Blocks while the
// harness runs, so keep it off the main thread.
struct ModelCatalog {
    // A hung harness must not block a listing forever.
    static constexpr Seconds listingTimeout = 30;
    static constexpr Seconds resolutionTimeout = 12;

    static std::vector<ModelOption> models(const std::optional<ModelSource>& source,
                                           const std::optional<std::filesystem::path>& executable);

    // True when `model` is empty, `options` is empty, or some option has that id.
    static bool retains(const std::string& model, const std::vector<ModelOption>& options);

    // Runs a listing command in the discovery folder with the minimal environment;
    // its output as text, empty when it cannot start, times out or is not UTF-8.
    // The exit status is not examined.
    static std::string run(const std::filesystem::path& executable,
                           const std::vector<std::string>& arguments, Seconds timeout,
                           ChildProcess::Stream stream = ChildProcess::Stream::standardOutput);

    static std::vector<std::string> identifiersInList(std::string_view output);
    static std::vector<std::string> identifiersInTable(std::string_view output,
                                                       const std::vector<int>& columns);
    static std::vector<std::string> identifiersInJson(std::string_view output,
                                                      const std::string& array,
                                                      const std::string& identifier);
    static std::vector<std::string> aliasesInHelp(std::string_view help, const std::string& flag);

    // The full name of one alias, cached per executable; failures are not cached.
    static std::optional<std::string> resolved(const std::string& alias,
                                               const ModelResolution& resolution,
                                               const std::filesystem::path& executable);

    // `transform` applied to every item at once; results in input order.
    template <class Item, class Result>
    static std::vector<std::optional<Result>>
    inParallel(const std::vector<Item>& items,
               const std::function<std::optional<Result>(const Item&)>& transform) {
        std::vector<std::future<std::optional<Result>>> running;
        running.reserve(items.size());
        for (const Item& item : items)
            running.push_back(
                std::async(std::launch::async, [&transform, &item] { return transform(item); }));
        std::vector<std::optional<Result>> results;
        results.reserve(items.size());
        for (auto& each : running)
            results.push_back(each.get());
        return results;
    }
};

} // namespace marrowbell
