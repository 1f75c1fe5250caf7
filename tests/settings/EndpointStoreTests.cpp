#include "settings/EndpointStore.h"

#include "base/Files.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Endpoint makeEndpoint(const std::string& name) {
    return Endpoint{Uuid::random(), name, Url{"http://127.0.0.1:1234/v1"}, EndpointKind::lmStudio};
}

Names names(const EndpointStore& store) {
    Names result;
    for (const Endpoint& e : store.endpoints())
        result.push_back(e.name);
    return result;
}

// The folder is made at once, the file only by the first change.
TEST(EndpointStore, SaveReplacesInPlaceOrAppendsRemoveKeepsOrderAndAllPersists) {
    test::TempDir dir;
    const fs::path file = dir / "nested/endpoints.json";
    EndpointStore store(file);
    EXPECT_TRUE(store.endpoints().empty());
    EXPECT_TRUE(fs::is_directory(file.parent_path()));
    EXPECT_FALSE(fs::exists(file));
    Endpoint a = makeEndpoint("A"), b = makeEndpoint("B"), c = makeEndpoint("C"),
             d = makeEndpoint("D");
    for (const Endpoint& e : {a, b, c, d})
        store.save(e);
    b.name = "B renamed";
    store.save(b);
    store.remove(c.id);
    EXPECT_EQ(names(store), (Names{"A", "B renamed", "D"}));

    const std::string text = *files::read(file);
    EXPECT_EQ(text, json::pretty(Json::parse(text))); // written for people to read too
    EndpointStore reloaded(file);
    EXPECT_EQ(reloaded.endpoints(), store.endpoints());
    EXPECT_EQ(reloaded.endpoint(b.id), b);
    EXPECT_EQ(reloaded.endpoint(std::nullopt), std::nullopt);
    EXPECT_EQ(reloaded.endpoint(c.id), std::nullopt);
    test::writeFile(dir / "blocker", "a file, not a folder");
    EXPECT_THROW(EndpointStore(dir / "blocker/endpoints.json"), fs::filesystem_error);
}

// A bad entry costs that entry only; a document that is no list costs the file (set
// aside by the store file, as every store does).
TEST(EndpointStore, KeepsTheEntriesThatDecode) {
    test::TempDir dir;
    test::writeFile(dir / "a.json",
                    R"([{"id":"studio","name":"bad","baseURL":"http://h:1","kind":"lmStudio"},
                        {"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C9","name":"ok",
                         "baseURL":"http://h:1","kind":"ollama"}])");
    test::writeFile(dir / "b.json", "{}");
    EndpointStore partly(dir / "a.json"), none(dir / "b.json");
    EXPECT_EQ(names(partly), Names{"ok"});
    EXPECT_EQ(partly.loadProblems().size(), 1u);
    EXPECT_TRUE(none.endpoints().empty());
    EXPECT_EQ(test::setAside(dir / "b.json").size(), 1u);
}

TEST(EndpointStore, JobsDependingKeepsTheGivenOrder) {
    Uuid studio = Uuid::random();
    std::vector<Job> jobs = {test::makeJob("A"), test::makeJob("B"), test::makeJob("C")};
    jobs[0].endpointID = jobs[2].endpointID = studio;
    jobs[1].endpointID = Uuid::random();
    EXPECT_EQ(EndpointStore::jobsDepending(studio, jobs), (std::vector<Job>{jobs[0], jobs[2]}));
}

} // namespace
} // namespace marrowbell
