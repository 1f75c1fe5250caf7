#include "settings/SettingsWindowFixture.h"

#include <QPushButton>
#include <QTabWidget>

namespace marrowbell::app::test {
namespace {

class HarnessesTab : public SettingsWindowTest {
protected:
    QString location(const std::string& harness) const {
        return find<QWidget>(("harness-" + harness).c_str()).findChild<QLabel*>("location")->text();
    }
    void showTab() { window_->tabs().setCurrentIndex(2); }
};

TEST_F(HarnessesTab, SaysWhereEachHarnessIsAndHowItsLimitsHold) {
    install("claude");
    open();
    showTab();
    const QString claude = QString::fromStdString((dir_ / ".local/bin/claude").string());
    ASSERT_TRUE(waitFor([&] { return location("claude") == claude; }))
        << location("claude").toStdString();
    EXPECT_EQ(location("codex"), "not installed");
    EXPECT_TRUE(find<QWidget>("harness-claude")
                    .toolTip()
                    .startsWith("Enforced by the harness checking every file path it is given. No "
                                "shell is granted, because a shell would bypass that.\n\n"));
}

TEST_F(HarnessesTab, ReDetectFindsAToolInstalledSince) {
    open();
    showTab();
    EXPECT_EQ(location("codex"), "not installed");
    install("codex");
    find<QPushButton>("redetect").click();
    const QString codex = QString::fromStdString((dir_ / ".local/bin/codex").string());
    EXPECT_TRUE(waitFor([&] { return location("codex") == codex; }))
        << location("codex").toStdString();
}

} // namespace
} // namespace marrowbell::app::test
