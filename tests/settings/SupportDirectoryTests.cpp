#include "settings/SupportDirectory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace marrowbell;
namespace fs = std::filesystem;

// The folder holds the endpoint keys when no keyring runs, and every run's output:
// created private to the user whatever the umask, and closed again when an earlier
// version left it open.
class SupportDirectoryMode : public ::testing::TestWithParam<bool> {};

TEST_P(SupportDirectoryMode, IsPrivateToTheUser) {
    test::TempDir data;
    test::ScopedEnv dataHome("XDG_DATA_HOME", (data / "share").string());
    if (GetParam()) {
        fs::create_directories(data / "share" / "Marrowbell");
        fs::permissions(data / "share" / "Marrowbell", fs::perms(0755));
    }
    mode_t previous = ::umask(022);
    fs::path folder = SupportDirectory::url();
    ::umask(previous);
    EXPECT_EQ(folder, data / "share" / "Marrowbell");
    struct stat status {};
    ASSERT_EQ(::stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
}

INSTANTIATE_TEST_SUITE_P(Existing, SupportDirectoryMode, ::testing::Bool());
