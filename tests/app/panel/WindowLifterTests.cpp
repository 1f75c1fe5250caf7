// Finding and lifting the app's own windows.
#include "panel/WindowLifter.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

struct WindowCase {
    const char* objectName;
    const char* title;
    bool isSettings;
};

class SettingsWindowPredicate : public testing::TestWithParam<WindowCase> {};

TEST_P(SettingsWindowPredicate, ByNameInAnyCaseOrByATabTitle) {
    QWidget window;
    window.setObjectName(QString::fromUtf8(GetParam().objectName));
    window.setWindowTitle(QString::fromUtf8(GetParam().title));
    EXPECT_EQ(WindowLifter::isSettings(window), GetParam().isSettings);
}

INSTANTIATE_TEST_SUITE_P(Windows, SettingsWindowPredicate,
                         testing::Values(WindowCase{"preferences", "Harnesses", true},
                                         WindowCase{"app-SETTINGS-window", "", true},
                                         WindowCase{"main", "Settings", true},
                                         WindowCase{"main", "Settings…", false},
                                         WindowCase{"job-editor", "Scheduled Job", false}));

TEST(WindowLifter, WithNoMatchingWindowNothingIsActivated) {
    QWidget shown;
    shown.setWindowTitle(QStringLiteral("Scheduled Job"));
    shown.show();
    QApplication::setActiveWindow(&shown);
    EXPECT_FALSE(WindowLifter::bringForwardNow(&WindowLifter::isSettings));
    QTest::qWait(50);
    EXPECT_EQ(QApplication::activeWindow(), &shown);
}

TEST(WindowLifter, LiftsTheFirstShownMatchAndLeavesClosedOnesClosed) {
    QWidget closed;
    closed.setObjectName(QStringLiteral("settings"));
    QWidget other;
    other.show();
    QWidget settings;
    settings.setWindowTitle(QStringLiteral("General"));
    settings.show();
    QApplication::setActiveWindow(&other);

    EXPECT_TRUE(WindowLifter::bringForwardNow(&WindowLifter::isSettings));
    EXPECT_FALSE(closed.isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &settings; }, 2000));
}

} // namespace
} // namespace marrowbell::app
