#include "settings/SettingsWindowFixture.h"

#include "base/Json.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>

namespace marrowbell::app::test {
namespace {

using GeneralTab = SettingsWindowTest;

TEST_F(GeneralTab, ChoicesReachTheSettingsFileTheCommandLineReads) {
    install("claude");
    install("codex");
    open();
    const Uuid local = addEndpoint("Local", "http://127.0.0.1:1234/v1");

    choose(find<QComboBox>("defaultHarness"), "Codex");
    choose(find<QComboBox>("defaultEndpoint"), "Local \u00B7 127.0.0.1:1234");
    find<QSpinBox>("stopAfter").setValue(150);
    choose(find<QComboBox>("catchUp"), "Up to 15 minutes late");
    find<QCheckBox>("notifyOnFailureOnly").click();

    EXPECT_EQ(text("stopAfterLabel"), "2 hours 30 minutes");
    const ProcessResult shown =
        runProcess({MARROWBELL_BIN_DIR "/marrowbellctl", "settings", "--json"});
    ASSERT_EQ(shown.exitStatus, 0) << shown.err;
    const Json settings = Json::parse(shown.out);
    EXPECT_EQ(settings["defaultHarnessID"], "codex");
    EXPECT_EQ(settings["defaultEndpointID"], local.text());
    EXPECT_EQ(settings["defaults"]["timeoutSeconds"], 9000);
    EXPECT_EQ(settings["defaults"]["notifyOnFailureOnly"], false);
    EXPECT_EQ(settings["catchUpGraceSeconds"], 900);
}

TEST_F(GeneralTab, LaunchAtLoginWritesAndRemovesTheAutostartEntry) {
    open();
    auto& toggle = find<QCheckBox>("launchAtLogin");
    EXPECT_FALSE(toggle.isChecked());
    toggle.click();
    EXPECT_TRUE(std::filesystem::exists(loginItem_.entry()));
    EXPECT_TRUE(toggle.isChecked());
    toggle.click();
    EXPECT_FALSE(std::filesystem::exists(loginItem_.entry()));
    EXPECT_FALSE(toggle.isChecked());
}

TEST_F(GeneralTab, ALoginItemThatCannotBeWrittenStaysOffAndSaysWhy) {
    writeFile(home_.root / "config/autostart", "a file where the folder should be");
    open();
    auto& toggle = find<QCheckBox>("launchAtLogin");
    toggle.click();
    EXPECT_FALSE(toggle.isChecked());
    const QString problem = text("loginItemProblem");
    EXPECT_TRUE(problem.startsWith("Could not change the login item \u2014 "))
        << problem.toStdString();
    EXPECT_GT(problem.size(), 40) << "says why";
}

TEST_F(GeneralTab, ShowInFilesShowsTheJobsFolder) {
    open();
    find<QPushButton>("showJobsInFiles").click();
    EXPECT_EQ(shown_, std::vector{home_.support() / "Jobs"});
}

} // namespace
} // namespace marrowbell::app::test
