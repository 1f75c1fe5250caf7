// Test entry for the application's rooms: Qt objects need an application object
// on the main thread before the first test runs.
#include <gtest/gtest.h>

#if MARROWBELL_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <cstdlib>

int main(int argc, char** argv) {
    // Widgets render offscreen unless a test run asks for a real display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TestApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
