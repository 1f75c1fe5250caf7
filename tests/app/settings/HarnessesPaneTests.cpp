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
};

TEST_F(HarnessesTab, SaysWhereEachHarnessIsAndFindsOneInstalledSince) {
    install("claude");
    open();
    window_->tabs().setCurrentIndex(2);
    const auto path = [&](const char* tool) {
        return QString::fromStdString((home_.home() / ".local/bin" / tool).string());
    };
    ASSERT_TRUE(waitFor([&] { return location("claude") == path("claude"); }))
        << location("claude").toStdString();
    EXPECT_TRUE(find<QWidget>("harness-claude")
                    .toolTip()
                    .startsWith("Enforced by the harness checking every file path it is given. No "
                                "shell is granted, because a shell would bypass that.\n\n"));
    EXPECT_EQ(location("codex"), "not installed");
    install("codex");
    find<QPushButton>("redetect").click();
    EXPECT_TRUE(waitFor([&] { return location("codex") == path("codex"); }))
        << location("codex").toStdString();
}

} // namespace
} // namespace marrowbell::app::test
