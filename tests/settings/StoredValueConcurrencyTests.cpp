#include "settings/EndpointStore.h"

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

} // namespace
} // namespace marrowbell
