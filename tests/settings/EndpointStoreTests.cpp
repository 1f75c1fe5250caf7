#include "settings/EndpointStore.h"

#include "base/Files.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

Endpoint makeEndpoint(const std::string& name,
                      const std::string& url = "http://127.0.0.1:1234/v1") {
    return Endpoint{Uuid::random(), name, Url{url}, EndpointKind::lmStudio};
}

std::vector<std::string> names(const std::vector<Endpoint>& endpoints) {
    std::vector<std::string> result;
    for (const Endpoint& e : endpoints)
        result.push_back(e.name);
    return result;
}

TEST(EndpointStore, StartsEmptyWithoutCreatingTheFile) {
    test::TempDir dir;
    auto file = dir / "nested/folder/endpoints.json";
    EndpointStore store(file);
    EXPECT_TRUE(store.endpoints().empty());
    EXPECT_TRUE(std::filesystem::is_directory(file.parent_path()));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(EndpointStore, FailsWhenTheFolderCannotBeCreated) {
    test::TempDir dir;
    test::writeFile(dir / "blocker", "a file, not a folder");
    EXPECT_THROW(EndpointStore(dir / "blocker/endpoints.json"), std::filesystem::filesystem_error);
}

TEST(EndpointStore, SaveReplacesInPlaceOrAppendsAndPersists) {
    test::TempDir dir;
    auto file = dir / "endpoints.json";
    EndpointStore store(file);
    Endpoint a = makeEndpoint("A"), b = makeEndpoint("B"), c = makeEndpoint("C");
    store.save(a);
    store.save(b);
    store.save(c);
    b.name = "B renamed";
    store.save(b);
    EXPECT_EQ(names(store.endpoints()), (std::vector<std::string>{"A", "B renamed", "C"}));

    EndpointStore reloaded(file);
    EXPECT_EQ(reloaded.endpoints(), store.endpoints());
    EXPECT_EQ(reloaded.endpoint(b.id), b);
    EXPECT_EQ(reloaded.endpoint(std::nullopt), std::nullopt);
    EXPECT_EQ(reloaded.endpoint(Uuid::random()), std::nullopt);
}

TEST(EndpointStore, WritesSortedPrettyJsonWithUpperCaseIds) {
    test::TempDir dir;
    auto file = dir / "endpoints.json";
    EndpointStore store(file);
    Endpoint endpoint{*Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8"), "Studio",
                      Url{"http://127.0.0.1:1234/v1"}, EndpointKind::ollama};
    store.save(endpoint);
    EXPECT_EQ(*files::read(file), "[\n"
                                  "  {\n"
                                  "    \"baseURL\": \"http://127.0.0.1:1234/v1\",\n"
                                  "    \"id\": \"6BA7B810-9DAD-11D1-80B4-00C04FD430C8\",\n"
                                  "    \"kind\": \"ollama\",\n"
                                  "    \"name\": \"Studio\"\n"
                                  "  }\n"
                                  "]\n");
}

TEST(EndpointStore, RemoveKeepsOrderAndRewritesEvenWhenNothingMatched) {
    test::TempDir dir;
    auto file = dir / "endpoints.json";
    EndpointStore store(file);
    Endpoint a = makeEndpoint("A"), b = makeEndpoint("B"), c = makeEndpoint("C");
    for (const Endpoint& e : {a, b, c})
        store.save(e);
    store.remove(b.id);
    EXPECT_EQ(names(store.endpoints()), (std::vector<std::string>{"A", "C"}));

    std::string before = *files::read(file);
    std::filesystem::remove(file);
    store.remove(Uuid::random());
    EXPECT_EQ(*files::read(file), before);
}

class UnreadableEndpointsFile : public testing::TestWithParam<const char*> {};

TEST_P(UnreadableEndpointsFile, LoadsEmptyAndStaysUntouchedUntilTheNextChange) {
    test::TempDir dir;
    auto file = dir / "endpoints.json";
    test::writeFile(file, GetParam());
    {
        EndpointStore store(file);
        EXPECT_TRUE(store.endpoints().empty());
        EXPECT_EQ(*files::read(file), GetParam());
    }
    EndpointStore store(file);
    store.save(makeEndpoint("Fresh"));
    EXPECT_EQ(names(EndpointStore(file).endpoints()), std::vector<std::string>{"Fresh"});
}

INSTANTIATE_TEST_SUITE_P(
    Contents, UnreadableEndpointsFile,
    testing::Values("not json at all", "", "{}", "[42]",
                    // one valid endpoint and one without "kind"
                    R"([{"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8","name":"ok",
                         "baseURL":"http://localhost:1234","kind":"lmStudio"},
                        {"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C9","name":"bad",
                         "baseURL":"http://localhost:1234"}])",
                    R"([{"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8","name":"ok",
                         "baseURL":"http://localhost:1234","kind":3}])"));

TEST(EndpointStore, UnknownKindInTheFileStillLoads) {
    test::TempDir dir;
    auto file = dir / "endpoints.json";
    test::writeFile(file, R"([{"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8","name":"Future",
                               "baseURL":"http://localhost:8000/v1","kind":"vllm","extra":1}])");
    EndpointStore store(file);
    ASSERT_EQ(store.endpoints().size(), 1u);
    EXPECT_EQ(store.endpoints()[0].kind, EndpointKind::openAICompatible);
    EXPECT_EQ(store.endpoints()[0].name, "Future");
}

TEST(EndpointStore, IgnoresWriteFailuresAndKeepsTheChangeInMemory) {
    test::TempDir dir;
    // A folder where the file should be: every atomic replacement fails.
    auto file = dir / "endpoints.json";
    std::filesystem::create_directories(file);
    EndpointStore store(file);
    EXPECT_NO_THROW(store.save(makeEndpoint("Kept")));
    EXPECT_EQ(names(store.endpoints()), std::vector<std::string>{"Kept"});
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

} // namespace
} // namespace marrowbell

#include "../job/JobTestSupport.h"

namespace marrowbell {
namespace {

TEST(EndpointStore, JobsDependingKeepsTheGivenOrder) {
    Uuid studio = Uuid::random(), other = Uuid::random();
    std::vector<Job> jobs = {test::makeJob("A"), test::makeJob("B"), test::makeJob("C"),
                             test::makeJob("D")};
    jobs[0].endpointID = studio;
    jobs[1].endpointID = other;
    jobs[3].endpointID = studio;
    auto depending = EndpointStore::jobsDepending(studio, jobs);
    ASSERT_EQ(depending.size(), 2u);
    EXPECT_EQ(depending[0], jobs[0]);
    EXPECT_EQ(depending[1], jobs[3]);
    EXPECT_TRUE(EndpointStore::jobsDepending(Uuid::random(), jobs).empty());
}

} // namespace
} // namespace marrowbell
