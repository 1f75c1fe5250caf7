#include "settings/EndpointStore.h"

#include "base/Files.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;

Endpoint makeEndpoint(const std::string& name) {
    return Endpoint{Uuid::random(), name, Url{"http://127.0.0.1:1234/v1"}, EndpointKind::lmStudio};
}

std::vector<std::string> names(const std::vector<Endpoint>& endpoints) {
    std::vector<std::string> result;
    for (const Endpoint& e : endpoints)
        result.push_back(e.name);
    return result;
}

class EndpointStoreTest : public testing::Test {
protected:
    test::TempDir dir;
    fs::path file = dir / "nested/endpoints.json";
};

// The folder is made at once, the file only by the first change.
TEST_F(EndpointStoreTest, SaveReplacesInPlaceOrAppendsAndPersists) {
    EndpointStore store(file);
    EXPECT_TRUE(store.endpoints().empty());
    EXPECT_TRUE(fs::is_directory(file.parent_path()));
    EXPECT_FALSE(fs::exists(file));
    Endpoint a = makeEndpoint("A"), b = makeEndpoint("B"), c = makeEndpoint("C");
    for (const Endpoint& e : {a, b, c})
        store.save(e);
    b.name = "B renamed";
    store.save(b);
    EXPECT_EQ(names(store.endpoints()), (std::vector<std::string>{"A", "B renamed", "C"}));

    EndpointStore reloaded(file);
    EXPECT_EQ(reloaded.endpoints(), store.endpoints());
    EXPECT_EQ(reloaded.endpoint(b.id), b);
    EXPECT_EQ(reloaded.endpoint(std::nullopt), std::nullopt);
    EXPECT_EQ(reloaded.endpoint(Uuid::random()), std::nullopt);
    test::writeFile(dir / "blocker", "a file, not a folder");
    EXPECT_THROW(EndpointStore(dir / "blocker/endpoints.json"), fs::filesystem_error);
}

TEST_F(EndpointStoreTest, WritesSortedPrettyJsonWithUpperCaseIds) {
    EndpointStore(file).save(Endpoint{*Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8"),
                                      "Studio", Url{"http://127.0.0.1:1234/v1"},
                                      EndpointKind::ollama});
    EXPECT_EQ(*files::read(file), "[\n"
                                  "  {\n"
                                  "    \"baseURL\": \"http://127.0.0.1:1234/v1\",\n"
                                  "    \"id\": \"6BA7B810-9DAD-11D1-80B4-00C04FD430C8\",\n"
                                  "    \"kind\": \"ollama\",\n"
                                  "    \"name\": \"Studio\"\n"
                                  "  }\n"
                                  "]\n");
}

// Changes start from the file as it is now: emptied elsewhere, it stays empty.
TEST_F(EndpointStoreTest, RemoveKeepsOrderAndRewritesEvenWhenNothingMatched) {
    EndpointStore store(file);
    Endpoint a = makeEndpoint("A"), b = makeEndpoint("B"), c = makeEndpoint("C");
    for (const Endpoint& e : {a, b, c})
        store.save(e);
    store.remove(b.id);
    EXPECT_EQ(names(store.endpoints()), (std::vector<std::string>{"A", "C"}));
    std::string before = *files::read(file);
    store.remove(Uuid::random());
    EXPECT_EQ(*files::read(file), before);
    fs::remove(file);
    store.remove(Uuid::random());
    EXPECT_EQ(*files::read(file), "[]\n");
    EXPECT_TRUE(store.endpoints().empty());
}

struct DamagedCase {
    const char* label;
    const char* content;
    std::vector<std::string> kept;
};

class DamagedEndpointsFile : public EndpointStoreTest,
                             public testing::WithParamInterface<DamagedCase> {};

// What decodes is kept, the file as it was is set aside, and the next change adds to
// what was kept instead of replacing the file with only the new endpoint.
TEST_P(DamagedEndpointsFile, KeepsWhatDecodesAndSetsTheFileAside) {
    test::writeFile(file, GetParam().content);
    EndpointStore store(file);
    EXPECT_EQ(names(store.endpoints()), GetParam().kept);
    EXPECT_EQ(store.loadProblems().size(), 1u);
    auto aside = test::setAside(file);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(files::read(aside[0]), GetParam().content);

    store.save(makeEndpoint("Fresh"));
    auto expected = GetParam().kept;
    expected.push_back("Fresh");
    EXPECT_EQ(names(EndpointStore(file).endpoints()), expected);
    EXPECT_EQ(files::read(aside[0]), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, DamagedEndpointsFile,
    testing::Values(DamagedCase{"NotAList", "{}", {}},
                    // The bad entry first: decoding goes on past it.
                    DamagedCase{
                        "BadIdentifier",
                        R"([{"id":"studio","name":"bad","baseURL":"http://h:1","kind":"lmStudio"},
                                    {"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C9","name":"ok",
                                     "baseURL":"http://h:1","kind":"ollama"}])",
                        {"ok"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(EndpointStoreTest, UnknownKindInTheFileStillLoads) {
    test::writeFile(file, R"([{"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8","name":"Future",
                               "baseURL":"http://localhost:8000/v1","kind":"vllm","extra":1}])");
    EndpointStore store(file);
    ASSERT_EQ(names(store.endpoints()), std::vector<std::string>{"Future"});
    EXPECT_EQ(store.endpoints()[0].kind, EndpointKind::openAICompatible);
}

// A folder where the file should be: it cannot be read, so it is never replaced.
TEST_F(EndpointStoreTest, AChangeThatCannotBeWrittenFailsAndChangesNothing) {
    fs::create_directories(file);
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
    EXPECT_TRUE(fs::is_directory(file));
}

TEST(EndpointStore, JobsDependingKeepsTheGivenOrder) {
    Uuid studio = Uuid::random();
    std::vector<Job> jobs = {test::makeJob("A"), test::makeJob("B"), test::makeJob("C")};
    jobs[0].endpointID = studio;
    jobs[1].endpointID = Uuid::random();
    jobs[2].endpointID = studio;
    EXPECT_EQ(EndpointStore::jobsDepending(studio, jobs), (std::vector<Job>{jobs[0], jobs[2]}));
    EXPECT_TRUE(EndpointStore::jobsDepending(Uuid::random(), jobs).empty());
}

} // namespace
} // namespace marrowbell
