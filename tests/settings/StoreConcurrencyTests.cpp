#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include "support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace marrowbell {
namespace {

constexpr int threads = 8, perThread = 25;

void inThreads(const std::function<void(int thread)>& work) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(work, t);
    for (auto& worker : workers)
        worker.join();
}

Endpoint named(int t, int i) {
    return Endpoint{Uuid::random(), "E" + std::to_string(t) + "-" + std::to_string(i),
                    Url{"http://127.0.0.1:1234"}, EndpointKind::ollama};
}

// One store of each, changed from many threads: memory holds every change and the file
// ends with the last state, never an older snapshot written late.
TEST(StoreConcurrency, ConcurrentChangesLoseNothingAndTheFileEndsWithTheLastState) {
    test::TempDir dir;
    EndpointStore endpoints(dir / "endpoints.json");
    SettingsStore settings(dir / "settings.json");
    settings.update([](AppSettings& s) { s.catchUpGraceSeconds = 0; });
    inThreads([&](int t) {
        for (int i = 0; i < perThread; ++i) {
            endpoints.save(named(t, i));
            (void)endpoints.endpoints();
            settings.update([](AppSettings& s) { s.catchUpGraceSeconds += 1; });
            (void)settings.settings();
        }
    });
    EXPECT_EQ(endpoints.endpoints().size(), std::size_t(threads * perThread));
    EXPECT_EQ(EndpointStore(dir / "endpoints.json").endpoints(), endpoints.endpoints());
    EXPECT_EQ(settings.settings().catchUpGraceSeconds, threads * perThread);
    EXPECT_EQ(SettingsStore(dir / "settings.json").settings(), settings.settings());
}

// Stores of their own on one file, as separate processes have: every change re-reads
// the file under its lock, so none is lost.
TEST(StoreConcurrency, SeparateStoresOnOneFileLoseNoChange) {
    test::TempDir dir;
    inThreads([&](int t) {
        SettingsStore settings(dir / "settings.json");
        EndpointStore endpoints(dir / "endpoints.json");
        for (int i = 0; i < perThread; ++i) {
            settings.update([](AppSettings& s) { s.catchUpGraceSeconds += 1; });
            endpoints.save(named(t, i));
        }
    });
    EXPECT_EQ(SettingsStore(dir / "settings.json").settings().catchUpGraceSeconds,
              3600 + threads * perThread);
    EXPECT_EQ(EndpointStore(dir / "endpoints.json").endpoints().size(),
              std::size_t(threads * perThread));
}

} // namespace
} // namespace marrowbell
