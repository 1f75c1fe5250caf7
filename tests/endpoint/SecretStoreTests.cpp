#include "endpoint/SecretStore.h"

#include "base/Files.h"
#include "base/Json.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace marrowbell {
namespace {

using Backend = SecretStore::Backend;

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Why the private Secret Service of ./dev test cannot be used; none when it can.
std::optional<std::string> noSecretService() {
    if (!std::getenv("MARROWBELL_ISOLATED_KEYRING"))
        return "no private Secret Service: run the tests through ./dev test";
    std::string why;
    if (SecretStore::detectBackend(&why) != Backend::secretService)
        return "no usable Secret Service on the bus: " + why;
    return std::nullopt;
}

// Each store has a service name of its own, so parallel tests never see each
// other's items.
std::string freshService() {
    return "app.marrowbell.tests." + Uuid::random().text();
}

// The contract every backend keeps: the file and the Secret Service.
class SecretStoreContract : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (auto why = noSecretService(); why && GetParam() == Backend::secretService)
            GTEST_SKIP() << *why;
        store_.emplace(freshService(), GetParam(), dir_ / "support/secrets.json");
    }
    const SecretStore& store() const { return *store_; }

    test::TempDir dir_;
    std::optional<SecretStore> store_;
};

TEST_P(SecretStoreContract, KeepsOneTextKeyPerEndpointAndAnEmptyKeyIsNone) {
    Uuid a = Uuid::random(), b = Uuid::random();
    EXPECT_NO_THROW(store().remove(a));
    EXPECT_EQ(store().secret(a), std::nullopt);
    store().save("first-key", a);
    store().save("second-key", a);
    store().save("other key ✓", b);
    EXPECT_EQ(store().secret(a), "second-key");
    EXPECT_EQ(store().secret(b), "other key ✓");
    store().remove(a);
    EXPECT_EQ(store().secret(a), std::nullopt);
    EXPECT_EQ(store().secret(b), "other key ✓");
    store().save("", b);
    EXPECT_EQ(store().secret(b), std::nullopt);
    EXPECT_THROW(store().save(std::string("\xff\xfe", 2), a), SecretStore::Failure);
    EXPECT_THROW(store().save(std::string("a\0b", 3), a), SecretStore::Failure);
    EXPECT_EQ(store().secret(a), std::nullopt);
}

TEST_P(SecretStoreContract, ServicesAreSeparate) {
    Uuid id = Uuid::random();
    SecretStore other(freshService(), GetParam(), store().file());
    store().save("mine", id);
    EXPECT_EQ(other.secret(id), std::nullopt);
    other.remove(id);
    EXPECT_EQ(store().secret(id), "mine");
    store().remove(id);
}

INSTANTIATE_TEST_SUITE_P(Backends, SecretStoreContract,
                         testing::Values(Backend::file, Backend::secretService),
                         [](const auto& info) {
                             return info.param == Backend::file ? "File" : "SecretService";
                         });

class SecretStoreFile : public testing::Test {
protected:
    test::TempDir dir_;
    std::filesystem::path file_ = dir_ / "support/secrets.json";
    SecretStore store_{"app.marrowbell.endpoints", Backend::file, file_};
};

TEST_F(SecretStoreFile, IsReadableByTheUserAloneWhateverTheUmaskAndFilesByUpperCaseAccount) {
    store_.remove(Uuid::random());
    EXPECT_FALSE(std::filesystem::exists(file_.parent_path()));
    mode_t previous = ::umask(0);
    store_.save("sk-1", *Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8"));
    ::umask(previous);
    EXPECT_EQ(modeOf(file_), 0600u);
    EXPECT_EQ(modeOf(file_.string() + ".lock"), 0600u);
    // Nothing else (no temporary file) is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file_.parent_path()), {}), 2);
    EXPECT_EQ(
        json::parse(*files::read(file_)).value(),
        (Json{{"app.marrowbell.endpoints", {{"6BA7B810-9DAD-11D1-80B4-00C04FD430C8", "sk-1"}}}}));
}

TEST_F(SecretStoreFile, RewritingTightensAFileOthersCouldRead) {
    test::writeFile(file_, "{}");
    ::chmod(file_.c_str(), 0644);
    store_.save("k", Uuid::random());
    EXPECT_EQ(modeOf(file_), 0600u);
}

TEST_F(SecretStoreFile, ADamagedFileIsNeitherReadNorOverwritten) {
    test::writeFile(file_, "{ this is not json");
    Uuid id = Uuid::random();
    EXPECT_EQ(store_.secret(id), std::nullopt);
    EXPECT_THROW(store_.save("k", id), SecretStore::Failure);
    EXPECT_EQ(*files::read(file_), "{ this is not json");
}

TEST(SecretStoreFailure, MessageUsesTheStoresTextOrTheStatus) {
    EXPECT_STREQ(SecretStore::Failure(2, "Cannot create an item").what(),
                 "The keyring refused the request \u2014 Cannot create an item");
    EXPECT_STREQ(SecretStore::Failure(-25300, "").what(),
                 "The keyring refused the request \u2014 status -25300");
}

// With the keyring in use, a key written to the file while it was unavailable is
// still found, and removing the key clears both places.
TEST(SecretStoreKeyring, ReadsThroughToTheFileAndRemovesFromBoth) {
    if (auto why = noSecretService())
        GTEST_SKIP() << *why;
    test::TempDir dir;
    const auto file = dir / "secrets.json";
    const std::string service = freshService();
    const Uuid id = Uuid::random();
    SecretStore(service, Backend::file, file).save("from-the-file", id);
    SecretStore keyring(service, Backend::secretService, file);
    EXPECT_EQ(keyring.secret(id), "from-the-file");
    keyring.save("in-the-keyring", id);
    EXPECT_EQ(SecretStore(service, Backend::file, file).secret(id), std::nullopt);
    EXPECT_EQ(keyring.secret(id), "in-the-keyring");
    SecretStore(service, Backend::file, file).save("stale", id);
    keyring.remove(id);
    EXPECT_EQ(keyring.secret(id), std::nullopt);
}

} // namespace
} // namespace marrowbell
