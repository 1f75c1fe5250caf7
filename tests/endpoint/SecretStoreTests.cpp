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

// The contract every backend keeps, run against the file and, when one is on a
// private bus, the Secret Service.
class SecretStoreContract : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::secretService) {
            if (!std::getenv("MARROWBELL_ISOLATED_KEYRING"))
                GTEST_SKIP() << "no private Secret Service: run the tests through ./dev test";
            std::string why;
            if (SecretStore::detectBackend(&why) != Backend::secretService)
                GTEST_SKIP() << "no usable Secret Service on the bus: " << why;
        }
        // A service name of its own, so parallel tests never see each other's items.
        store_.emplace("app.marrowbell.tests." + Uuid::random().text(), GetParam(),
                       dir_ / "support/secrets.json");
    }
    const SecretStore& store() const { return *store_; }

    test::TempDir dir_;
    std::optional<SecretStore> store_;
};

TEST_P(SecretStoreContract, SavesReplacesAndRemovesOneKeyPerEndpoint) {
    Uuid a = Uuid::random(), b = Uuid::random();
    EXPECT_EQ(store().secret(a), std::nullopt);
    store().save("first-key", a);
    store().save("second-key", a);
    store().save("other key ✓", b);
    EXPECT_EQ(store().secret(a), "second-key");
    EXPECT_EQ(store().secret(b), "other key ✓");
    store().remove(a);
    EXPECT_EQ(store().secret(a), std::nullopt);
    EXPECT_EQ(store().secret(b), "other key ✓");
    store().remove(b);
}

TEST_P(SecretStoreContract, EmptyKeyMeansNoKey) {
    Uuid id = Uuid::random();
    EXPECT_NO_THROW(store().save("", id));
    EXPECT_EQ(store().secret(id), std::nullopt);
    store().save("key", id);
    store().save("", id);
    EXPECT_EQ(store().secret(id), std::nullopt);
}

TEST_P(SecretStoreContract, RemovingAMissingKeySucceeds) {
    EXPECT_NO_THROW(store().remove(Uuid::random()));
}

TEST_P(SecretStoreContract, ServicesAreSeparate) {
    Uuid id = Uuid::random();
    SecretStore other("app.marrowbell.tests.other." + Uuid::random().text(), GetParam(),
                      store().file());
    store().save("mine", id);
    EXPECT_EQ(other.secret(id), std::nullopt);
    other.remove(id);
    EXPECT_EQ(store().secret(id), "mine");
    store().remove(id);
}

TEST_P(SecretStoreContract, RefusesKeysThatAreNotText) {
    Uuid id = Uuid::random();
    EXPECT_THROW(store().save(std::string("\xff\xfe", 2), id), SecretStore::Failure);
    EXPECT_THROW(store().save(std::string("a\0b", 3), id), SecretStore::Failure);
    EXPECT_EQ(store().secret(id), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Backends, SecretStoreContract,
                         testing::Values(Backend::file, Backend::secretService),
                         [](const auto& info) {
                             return info.param == Backend::file ? "File" : "SecretService";
                         });

TEST(SecretStoreFile, IsReadableByTheUserAloneWhateverTheUmask) {
    test::TempDir dir;
    auto file = dir / "support/secrets.json";
    SecretStore store("app.marrowbell.endpoints", Backend::file, file);
    mode_t previous = ::umask(0);
    store.save("sk-1", Uuid::random());
    ::umask(previous);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file.string() + ".lock"), 0600u);
    // Nothing else (no temporary file) is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 2);
}

TEST(SecretStoreFile, RewritingTightensAFileOthersCouldRead) {
    test::TempDir dir;
    auto file = dir / "secrets.json";
    test::writeFile(file, "{}");
    ::chmod(file.c_str(), 0644);
    SecretStore("app.marrowbell.endpoints", Backend::file, file).save("k", Uuid::random());
    EXPECT_EQ(modeOf(file), 0600u);
}

TEST(SecretStoreFile, ADamagedFileIsNeitherReadNorOverwritten) {
    test::TempDir dir;
    auto file = dir / "secrets.json";
    test::writeFile(file, "{ this is not json");
    SecretStore store("app.marrowbell.endpoints", Backend::file, file);
    Uuid id = Uuid::random();
    EXPECT_EQ(store.secret(id), std::nullopt);
    try {
        store.save("k", id);
        FAIL() << "a damaged key file was overwritten";
    } catch (const SecretStore::Failure& failure) {
        EXPECT_TRUE(
            std::string(failure.what()).starts_with("The keyring refused the request \u2014 "));
    }
    EXPECT_EQ(*files::read(file), "{ this is not json");
}

TEST(SecretStoreFile, RemovingFromAMissingFileCreatesNothing) {
    test::TempDir dir;
    SecretStore store("app.marrowbell.endpoints", Backend::file, dir / "support/secrets.json");
    store.remove(Uuid::random());
    EXPECT_FALSE(std::filesystem::exists(dir / "support"));
}

TEST(SecretStoreFile, KeysAreFiledByServiceAndUpperCaseAccount) {
    test::TempDir dir;
    auto file = dir / "secrets.json";
    Uuid id = *Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    SecretStore("app.marrowbell.endpoints", Backend::file, file).save("sk-1", id);
    auto document = json::parse(*files::read(file));
    ASSERT_TRUE(document);
    EXPECT_EQ((*document)["app.marrowbell.endpoints"]["6BA7B810-9DAD-11D1-80B4-00C04FD430C8"],
              "sk-1");
}

TEST(SecretStoreFailure, MessageUsesTheStoresTextOrTheStatus) {
    EXPECT_STREQ(
        SecretStore::Failure(2, "Cannot create an item in a locked collection").what(),
        "The keyring refused the request \u2014 Cannot create an item in a locked collection");
    EXPECT_STREQ(SecretStore::Failure(-25300, "").what(),
                 "The keyring refused the request \u2014 status -25300");
    EXPECT_EQ(SecretStore::Failure(-25300, "").status(), -25300);
}

// With the keyring in use, a key written to the file while it was unavailable is
// still found, and removing the key clears both places.
TEST(SecretStoreKeyring, ReadsThroughToTheFileAndRemovesFromBoth) {
    if (!std::getenv("MARROWBELL_ISOLATED_KEYRING"))
        GTEST_SKIP() << "no private Secret Service: run the tests through ./dev test";
    std::string why;
    if (SecretStore::detectBackend(&why) != Backend::secretService)
        GTEST_SKIP() << "no usable Secret Service on the bus: " << why;
    test::TempDir dir;
    auto file = dir / "secrets.json";
    std::string service = "app.marrowbell.tests." + Uuid::random().text();
    Uuid id = Uuid::random();
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
