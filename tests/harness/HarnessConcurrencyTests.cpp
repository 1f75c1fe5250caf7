#include "harness/HarnessRegistry.h"
#include "harness/ModelCatalog.h"
#include "support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace marrowbell;

TEST(HarnessConcurrency, SearchListsStayWholeWhileDiscoveriesArePublished) {
    auto shell = std::make_shared<ShellPath>();
    HarnessRegistry registry({}, {"/manifest"}, {}, {}, {}, shell);
    std::vector<std::thread> readers;
    std::atomic<bool> torn{false};
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&registry, &torn] {
            HarnessRegistry copy = registry; // copies share the cache
            for (int i = 0; i < 500; ++i) {
                std::vector<std::string> paths = copy.expandedSearchPaths();
                // Always the manifest folder, then one whole published generation.
                if (paths.empty() || paths[0] != "/manifest" ||
                    (paths.size() > 1 && paths.size() != 3))
                    torn = true;
            }
        });
    for (int i = 0; i < 200; ++i)
        shell->publish({"/gen" + std::to_string(i), "/common"});
    for (auto& reader : readers)
        reader.join();
    EXPECT_FALSE(torn);
    EXPECT_EQ(shell->generation(), 200);
    EXPECT_EQ(registry.expandedSearchPaths(),
              (std::vector<std::string>{"/manifest", "/gen199", "/common"}));
}

TEST(HarnessConcurrency, AliasesResolveInParallelAndFillTheCacheOnce) {
    test::TempDir dir;
    test::writeFile(dir / "tool",
                    "#!/bin/sh\n"
                    "if [ \"$1\" = --help ]; then echo \"--model 'a', 'b', 'c', 'd'\"; exit 0; fi\n"
                    "echo \"{\\\"full\\\": \\\"model-$2\\\"}\"\n",
                    true);
    ModelSource source{
        ModelSource::HelpAliases{"--model", ModelResolution{{"-m", "{model}"}, "full"}}};
    std::vector<std::thread> threads;
    std::vector<std::vector<ModelOption>> results(3);
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] { results[t] = ModelCatalog::models(source, dir / "tool"); });
    for (auto& thread : threads)
        thread.join();
    std::vector<ModelOption> expected{
        {"a", "model-a"}, {"b", "model-b"}, {"c", "model-c"}, {"d", "model-d"}};
    for (const auto& result : results)
        EXPECT_EQ(result, expected);
}
