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
    store.remove(Uuid::random());
    EXPECT_EQ(*files::read(file), before);

    // Changes start from the file as it is now: emptied elsewhere, it stays empty.
    std::filesystem::remove(file);
    store.remove(Uuid::random());
    EXPECT_EQ(*files::read(file), "[]\n");
    EXPECT_TRUE(store.endpoints().empty());
}

// The files set aside beside `file`.
std::vector<std::filesystem::path> setAside(const std::filesystem::path& file) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        if (entry.path().filename().string().starts_with("endpoints.json.damaged-"))
            found.push_back(entry.path());
    return found;
}

struct DamagedCase {
    const char* label;
    const char* content;
    std::vector<std::string> kept;
};

class DamagedEndpointsFile : public testing::TestWithParam<DamagedCase> {};

// What decodes is kept, the file as it was is set aside, and the next change adds to
// what was kept instead of replacing the file with only the new endpoint.
TEST_P(DamagedEndpointsFile, KeepsWhatDecodesAndSetsTheFileAside) {
    test::TempDir dir;
    auto file = dir / "endpoints.json";
    test::writeFile(file, GetParam().content);
    EndpointStore store(file);
    EXPECT_EQ(names(store.endpoints()), GetParam().kept);
    EXPECT_EQ(store.loadProblems().size(), 1u);
    auto aside = setAside(file);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(files::read(aside[0]), GetParam().content);

    store.save(makeEndpoint("Fresh"));
    auto expected = GetParam().kept;
    expected.push_back("Fresh");
    EXPECT_EQ(names(EndpointStore(file).endpoints()), expected);
    EXPECT_EQ(files::read(aside[0]), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(Contents, DamagedEndpointsFile,
                         testing::Values(DamagedCase{"NotAList", "{}", {}},
                                         // The bad entry first: decoding goes on past it.
                                         DamagedCase{"BadIdentifier",
                                                     R"([{"id":"studio","name":"bad",
                                     "baseURL":"http://localhost:1234","kind":"lmStudio"},
                                    {"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C9","name":"ok",
                                     "baseURL":"http://localhost:1234","kind":"ollama"}])",
                                                     {"ok"}}),
                         [](const auto& info) { return std::string(info.param.label); });

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

TEST(EndpointStore, AChangeThatCannotBeWrittenFailsAndChangesNothing) {
    test::TempDir dir;
    // A folder where the file should be: it cannot be read, so it is never replaced.
    auto file = dir / "endpoints.json";
    std::filesystem::create_directories(file);
    EndpointStore store(file);
    EXPECT_EQ(store.loadProblems().size(), 1u);
    try {
        store.save(makeEndpoint("Lost"));
        FAIL() << "the change was reported as saved";
    } catch (const StoreError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Could not save the endpoints \u2014 ", 0), 0u)
            << error.what();
    }
    EXPECT_TRUE(store.endpoints().empty());
    EXPECT_TRUE(std::filesystem::is_directory(file));
}

} // namespace
} // namespace marrowbell

#include "support/JobFixture.h"

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
