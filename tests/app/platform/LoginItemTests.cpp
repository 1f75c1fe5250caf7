#include "platform/AutostartLoginItem.h"

#include "base/Files.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using Status = LoginItem::Status;

struct AutostartHome {
    marrowbell::test::TempDir config;
    marrowbell::test::ScopedEnv variable{"XDG_CONFIG_HOME", config.path().string()};
    std::filesystem::path entry() const { return config / "autostart" / "marrowbell.desktop"; }
};

TEST(AutostartLoginItem, EnablingWritesAnEntryStartingTheBinary) {
    AutostartHome home;
    AutostartLoginItem item("/opt/Marrow Bell/bin/marrowbell");
    EXPECT_EQ(item.entry(), home.entry());
    EXPECT_EQ(item.status(), Status::notRegistered);
    item.setEnabled(true);
    EXPECT_EQ(item.status(), Status::enabled);
    const std::string entry = files::read(home.entry()).value_or("");
    for (const char* line : {"[Desktop Entry]\n", "\nExec=\"/opt/Marrow Bell/bin/marrowbell\"\n",
                             "\nType=Application\n"})
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    item.setEnabled(false);
    EXPECT_EQ(item.status(), Status::notRegistered);
    EXPECT_FALSE(std::filesystem::exists(home.entry()));
}

struct FoundEntry {
    const char* name;
    std::string content;
    Status status;
    bool keptWhenDisabled;
};

class AutostartStatus : public testing::TestWithParam<FoundEntry> {};

TEST_P(AutostartStatus, EnabledOnlyForOurVisibleEntry) {
    AutostartHome home;
    marrowbell::test::writeFile(home.entry(), "[Desktop Entry]\n" + GetParam().content);
    AutostartLoginItem item("/usr/bin/marrowbell");
    EXPECT_EQ(item.status(), GetParam().status);
    item.setEnabled(false);
    EXPECT_EQ(std::filesystem::exists(home.entry()), GetParam().keptWhenDisabled);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AutostartStatus,
    testing::Values(FoundEntry{"Ours", "Exec=/usr/bin/marrowbell\nX-Marrowbell-LoginItem=true\n",
                               Status::enabled, false},
                    FoundEntry{"OursHidden", "Hidden=true\nX-Marrowbell-LoginItem=true\n",
                               Status::notRegistered, false},
                    FoundEntry{"TheUsers", "Exec=/usr/bin/marrowbell --quiet\n",
                               Status::notRegistered, true},
                    FoundEntry{"MarkInAnotherGroup",
                               "Exec=x\n[Desktop Action y]\nX-Marrowbell-LoginItem=true\n",
                               Status::notRegistered, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AutostartLoginItem, AFailedWriteSaysWhy) {
    AutostartHome home;
    marrowbell::test::writeFile(home.config / "autostart", "a file where the folder should be");
    AutostartLoginItem item("/usr/bin/marrowbell");
    EXPECT_THROW(item.setEnabled(true), LoginItem::Error);
    EXPECT_EQ(item.status(), Status::notRegistered);
}

} // namespace
} // namespace marrowbell::app
