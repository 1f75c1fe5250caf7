#include "PrivateSession.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace marrowbell::app::test {

bool runInPrivateSession(bool display) {
    if (qEnvironmentVariableIsSet("MARROWBELL_PRIVATE_SESSION"))
        return false;
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    std::vector<std::string> command{
        QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).toStdString(), "--"};
    if (display)
        command.insert(command.end(), {"xvfb-run", "-a", "-s", "-screen 0 1280x800x24"});
    command.push_back(QCoreApplication::applicationFilePath().toStdString());
    command.push_back(filter);
    for (const auto& program : {"dbus-run-session", display ? "xvfb-run" : "dbus-run-session"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            ADD_FAILURE() << program << " is not installed";
            return true;
        }
    }
    std::vector<std::string> environment{"MARROWBELL_PRIVATE_SESSION=1"};
    if (display)
        environment.push_back("QT_QPA_PLATFORM=xcb");
    auto result = marrowbell::test::runProcess(command, "", environment);
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    return true;
}

} // namespace marrowbell::app::test
