#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include "base/Files.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <thread>

namespace marrowbell {
namespace {

// Many threads saving at once: memory holds every endpoint and the file ends with
// the last state, never an older snapshot written late.
TEST(EndpointStoreConcurrency, ConcurrentSavesLoseNothingAndTheFileEndsWithTheLastState) {
    test::TempDir dir;
    auto file = dir / "endpoints.json";
    EndpointStore store(file);
    constexpr int threads = 8, perThread = 25;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                store.save(Endpoint{Uuid::random(),
                                    "E" + std::to_string(t) + "-" + std::to_string(i),
                                    Url{"http://127.0.0.1:1234"}, EndpointKind::ollama});
                (void)store.endpoints();
            }
        });
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(store.endpoints().size(), std::size_t(threads * perThread));
    EXPECT_EQ(EndpointStore(file).endpoints(), store.endpoints());
}

TEST(SettingsStoreConcurrency, ConcurrentUpdatesAllApplyAndTheFileEndsWithTheLastState) {
    test::TempDir dir;
    auto file = dir / "settings.json";
    SettingsStore store(file);
    store.update([](AppSettings& s) { s.catchUpGraceSeconds = 0; });
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                store.update([](AppSettings& s) { s.catchUpGraceSeconds += 1; });
                (void)store.settings();
            }
        });
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(store.settings().catchUpGraceSeconds, 200);
    EXPECT_EQ(SettingsStore(file).settings(), store.settings());
}

// Stores of their own on one file, as separate processes have: every change re-reads
// the file under its lock, so none is lost.
TEST(StoreConcurrency, SeparateStoresOnOneFileLoseNoChange) {
    test::TempDir dir;
    constexpr int threads = 6, perThread = 10;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            SettingsStore settings(dir / "settings.json");
            EndpointStore endpoints(dir / "endpoints.json");
            for (int i = 0; i < perThread; ++i) {
                settings.update([](AppSettings& s) { s.catchUpGraceSeconds += 1; });
                endpoints.save(Endpoint{Uuid::random(),
                                        "E" + std::to_string(t) + "-" + std::to_string(i),
                                        Url{"http://127.0.0.1:1234"}, EndpointKind::ollama});
            }
        });
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(SettingsStore(dir / "settings.json").settings().catchUpGraceSeconds,
              3600 + threads * perThread);
    EXPECT_EQ(EndpointStore(dir / "endpoints.json").endpoints().size(),
              std::size_t(threads * perThread));
}

} // namespace
} // namespace marrowbell
