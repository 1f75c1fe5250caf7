#include "platform/AutostartLoginItem.h"

#include "base/Files.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using marrowbell::test::TempDir;
using marrowbell::test::writeFile;

struct AutostartHome {
    TempDir config;
    marrowbell::test::ScopedEnv variable{"XDG_CONFIG_HOME", config.path().string()};
    std::filesystem::path entry() const { return config / "autostart" / "marrowbell.desktop"; }
};

TEST(AutostartLoginItem, EnablingWritesAnEntryStartingTheBinary) {
    AutostartHome home;
    AutostartLoginItem item("/opt/Marrow Bell/bin/marrowbell");
    EXPECT_EQ(item.entry(), home.entry());
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);

    item.setEnabled(true);
    EXPECT_EQ(item.status(), LoginItem::Status::enabled);
    const std::string entry = files::read(home.entry()).value_or("");
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=\"/opt/Marrow Bell/bin/marrowbell\"\n"), std::string::npos);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);

    item.setEnabled(false);
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    EXPECT_FALSE(std::filesystem::exists(home.entry()));
}

struct FoundEntry {
    const char* name;
    std::string content;
    LoginItem::Status status;
    bool keptWhenDisabled;
};

class AutostartStatus : public testing::TestWithParam<FoundEntry> {};

TEST_P(AutostartStatus, EnabledOnlyForOurVisibleEntry) {
    AutostartHome home;
    writeFile(home.entry(), GetParam().content);
    AutostartLoginItem item("/usr/bin/marrowbell");
    EXPECT_EQ(item.status(), GetParam().status);
    item.setEnabled(false);
    EXPECT_EQ(std::filesystem::exists(home.entry()), GetParam().keptWhenDisabled);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AutostartStatus,
    testing::Values(
        FoundEntry{"Ours",
                   "[Desktop Entry]\nExec=/usr/bin/marrowbell\nX-Marrowbell-LoginItem=true\n",
                   LoginItem::Status::enabled, false},
        FoundEntry{"OursHidden", "[Desktop Entry]\nHidden=true\nX-Marrowbell-LoginItem=true\n",
                   LoginItem::Status::notRegistered, false},
        FoundEntry{"TheUsers", "[Desktop Entry]\nExec=/usr/bin/marrowbell --quiet\n",
                   LoginItem::Status::notRegistered, true},
        FoundEntry{"MarkInAnotherGroup",
                   "[Desktop Entry]\nExec=x\n[Desktop Action y]\nX-Marrowbell-LoginItem=true\n",
                   LoginItem::Status::notRegistered, true}),
    [](const testing::TestParamInfo<FoundEntry>& info) { return info.param.name; });

TEST(AutostartLoginItem, AFailedWriteSaysWhy) {
    AutostartHome home;
    writeFile(home.config / "autostart", "a file where the folder should be");
    AutostartLoginItem item("/usr/bin/marrowbell");
    try {
        item.setEnabled(true);
        FAIL() << "enabled without a folder";
    } catch (const LoginItem::Error& error) {
        EXPECT_FALSE(std::string(error.what()).empty());
    }
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
}

} // namespace
} // namespace marrowbell::app
