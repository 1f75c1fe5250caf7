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

unsigned modeOf(const std::filesystem::path& path) {
    return unsigned(std::filesystem::status(path).permissions());
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

// Each service is a namespace of its own.
TEST_P(SecretStoreContract, KeepsOneTextKeyPerEndpointAndServiceAndAnEmptyKeyIsNone) {
    Uuid a = Uuid::random(), b = Uuid::random();
    EXPECT_NO_THROW(store().remove(a));
    EXPECT_EQ(store().secret(a), std::nullopt);
    store().save("first-key", a);
    store().save("second-key", a);
    store().save("other key ✓", b);
    EXPECT_EQ(store().secret(a), "second-key");
    SecretStore other(freshService(), GetParam(), store().file());
    EXPECT_EQ(other.secret(a), std::nullopt);
    other.remove(b);
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

INSTANTIATE_TEST_SUITE_P(Backends, SecretStoreContract,
                         testing::Values(Backend::file, Backend::secretService),
                         [](const auto& info) {
                             return info.param == Backend::file ? "File" : "SecretService";
                         });

// Readable by the user alone whatever the umask, filed by service and upper-case
// account; a file others could read is tightened, a damaged one neither read nor
// overwritten.
TEST(SecretStoreFile, IsPrivateAndNeverOverwritesADamagedFile) {
    test::TempDir dir;
    const auto file = dir / "support/secrets.json";
    SecretStore store{"app.marrowbell.endpoints", Backend::file, file};
    store.remove(Uuid::random());
    EXPECT_FALSE(std::filesystem::exists(file.parent_path()));
    mode_t previous = ::umask(0);
    store.save("sk-1", *Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8"));
    ::umask(previous);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file.string() + ".lock"), 0600u);
    // Nothing else (no temporary file) is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 2);
    EXPECT_EQ(
        json::parse(*files::read(file)).value(),
        (Json{{"app.marrowbell.endpoints", {{"6BA7B810-9DAD-11D1-80B4-00C04FD430C8", "sk-1"}}}}));
    ::chmod(file.c_str(), 0644);
    store.save("k", Uuid::random());
    EXPECT_EQ(modeOf(file), 0600u);

    test::writeFile(file, "{ this is not json");
    Uuid id = Uuid::random();
    EXPECT_EQ(store.secret(id), std::nullopt);
    try {
        store.save("k", id);
        ADD_FAILURE() << "saved over a damaged file";
    } catch (const SecretStore::Failure& error) {
        EXPECT_EQ(std::string(error.what()).rfind("The keyring refused the request \u2014 ", 0),
                  0u);
    }
    EXPECT_EQ(*files::read(file), "{ this is not json");
    EXPECT_STREQ(SecretStore::Failure(-1, "").what(),
                 "The keyring refused the request \u2014 status -1");
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
