// The General and Harnesses tabs on a real model, and the texts the tabs show.
#include "settings/SettingsText.h"
#include "settings/SettingsWindowFixture.h"
#include "settings/Updates.h"

#include "base/Json.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

namespace marrowbell::app::test {
namespace {

using GeneralTab = SettingsWindowTest;

// The choices reach the settings file the command line reads; "Show in Files" shows the
// jobs folder.
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

    find<QPushButton>("showJobsInFiles").click();
    EXPECT_EQ(shown_, std::vector{home_.support() / "Jobs"});
}

// The toggle writes and removes the autostart entry; one that cannot be written stays
// off and says why.
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

    std::filesystem::remove_all(loginItem_.entry().parent_path());
    writeFile(loginItem_.entry().parent_path(), "a file where the folder should be");
    toggle.click();
    EXPECT_FALSE(toggle.isChecked());
    const QString problem = text("loginItemProblem");
    EXPECT_TRUE(problem.startsWith("Could not change the login item \u2014 "))
        << problem.toStdString();
    EXPECT_GT(problem.size(), 40) << "says why";
}

class HarnessesTab : public SettingsWindowTest {
protected:
    QString line(const std::string& harness, const char* name = "location") const {
        return find<QWidget>(("harness-" + harness).c_str()).findChild<QLabel*>(name)->text();
    }
};

// Where each harness is and what it offers (every harness of the manifest has a status,
// the installed one's models read from its help); one installed since is found again.
TEST_F(HarnessesTab, SaysWhereEachHarnessIsAndFindsOneInstalledSince) {
    writeFile(home_.home() / ".local/bin/claude",
              "#!/bin/sh\n[ \"$1\" = --help ] && echo \"  --model <model>  ('sonnet')\"\n", true);
    open();
    window_->tabs().setCurrentIndex(2);
    const auto path = [&](const char* tool) {
        return QString::fromStdString((home_.home() / ".local/bin" / tool).string());
    };
    ASSERT_TRUE(waitFor([&] { return line("claude") == path("claude"); }))
        << line("claude").toStdString();
    EXPECT_TRUE(line("claude", "facts").contains("1 model"))
        << line("claude", "facts").toStdString();
    EXPECT_TRUE(line("codex", "facts").contains("models not listable"))
        << line("codex", "facts").toStdString();
    EXPECT_TRUE(find<QWidget>("harness-claude")
                    .toolTip()
                    .startsWith("Enforced by the harness checking every file path it is given. No "
                                "shell is granted, because a shell would bypass that.\n\n"));
    EXPECT_EQ(line("codex"), "not installed");
    install("codex");
    find<QPushButton>("redetect").click();
    EXPECT_TRUE(waitFor([&] { return line("codex") == path("codex"); }))
        << line("codex").toStdString();
}

// More than four: the endpoints tab's test.
TEST(SettingsText, ModelsLineShowsFourAndCountsTheRest) {
    EXPECT_EQ(SettingsText::modelsLine({"a"}), "a");
    EXPECT_EQ(SettingsText::modelsLine({"a", "b", "c", "d"}), "a, b, c, d");
}

TEST(SettingsText, ApiKeyHintNamesTheStoreInUseAndTheHarnessesThatCannotTakeAnEndpoint) {
    std::vector<HarnessSpec> harnesses(3);
    for (int i = 0; i < 3; ++i)
        harnesses[i].displayName = std::vector{"Claude Code", "Codex", "Pi"}[i];
    harnesses[0].localEndpoint.style = LocalEndpointStyle::Environment{"ANTHROPIC_BASE_URL"};
    harnesses[1].localEndpoint.style = harnesses[2].localEndpoint.style =
        LocalEndpointStyle::Unsupported{};
    EXPECT_EQ(SettingsText::apiKeyHint(SecretStore::Backend::secretService, harnesses),
              "Stored in your keyring, never in the endpoint file. Codex, Pi cannot be pointed at "
              "an endpoint for a single run, so a job on it will not use this.");
    EXPECT_EQ(SettingsText::apiKeyHint(SecretStore::Backend::file, {harnesses[0]}),
              "Stored in a private file (secrets.json, readable only by you), never in the "
              "endpoint file.");
}

TEST(SettingsText, VersionAddsTheBuildOnlyWhenItSaysMore) {
    EXPECT_EQ(Updates::versionText("0.1.0", "8ea9d23"), "0.1.0 (8ea9d23)");
    EXPECT_EQ(Updates::versionText("0.1.0", "0.1.0"), "0.1.0");
    EXPECT_EQ(Updates::versionText("0.1.0", ""), "0.1.0");
    EXPECT_EQ(Updates::versionText("", ""), "\u2014");
}

} // namespace
} // namespace marrowbell::app::test
