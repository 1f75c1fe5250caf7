#include "cron/CronExpression.h"
#include "endpoint/EndpointProbe.h"
#include "endpoint/SecretStore.h"
#include "job/JobOrder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace marrowbell {
namespace {

bool mapped(const std::string& library) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(library) != std::string::npos)
            return true;
    return false;
}

// In a fresh child, so that no earlier test of this program has loaded the library:
// its exit status says whether it was unmapped before `use` and mapped after.
int mappedOnlyBy(const std::string& library, const std::function<void()>& use) {
    pid_t child = ::fork();
    if (child == 0) {
        if (mapped(library))
            ::_exit(1);
        use();
        ::_exit(mapped(library) ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reading an endpoint's address uses libcurl's URL parser, so that is the first use.
TEST(LazyLibraries, HttpLibraryIsLoadedByTheFirstEndpointAddress) {
    auto probe = [] {
        EndpointProbe(1).check({Uuid::random(), "Closed",
                                *Endpoint::validated("http://127.0.0.1:9/v1"),
                                EndpointKind::ollama},
                               std::nullopt);
    };
    EXPECT_EQ(mappedOnlyBy("libcurl.so", probe), 0);
}

TEST(LazyLibraries, CredentialStoreLibraryIsLoadedByTheFirstKeyLookup) {
    test::TempDir home;
    test::ScopedEnv data("XDG_DATA_HOME", home.path().string());
    auto lookUp = [] {
        const SecretStore& store = SecretStore::shared();
        if (mapped("libsecret-1.so")) // taking the store is no use yet
            ::_exit(3);
        store.secret(Uuid::random());
    };
    EXPECT_EQ(mappedOnlyBy("libsecret-1.so", lookUp), 0);
}

// Planning, zone arithmetic included, is all an idle scheduler does: it never needs ICU.
TEST(LazyLibraries, TextLibraryIsLoadedBySortingNamesNotByPlanning) {
    auto sort = [] {
        const auto zone = TimeZone::named("America/New_York");
        if (!zone || !CronExpression("30 2 * * *").nextDate(Instant::now(), *zone) ||
            mapped("libicu"))
            ::_exit(3);
        JobOrder::nameComesBefore("Job 2", "Job 10");
    };
    EXPECT_EQ(mappedOnlyBy("libicui18n.so", sort), 0);
}

} // namespace
} // namespace marrowbell
