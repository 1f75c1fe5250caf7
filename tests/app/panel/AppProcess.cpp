#include "AppProcess.h"

#include <QTest>

namespace marrowbell::app::test {

AppProcess::AppProcess(const std::string& program, const QStringList& arguments,
                       const marrowbell::test::CtlHome& home, const QProcessEnvironment& extra) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& entry : home.environment()) {
        auto equals = entry.find('=');
        env.insert(QString::fromStdString(entry.substr(0, equals)),
                   QString::fromStdString(entry.substr(equals + 1)));
    }
    env.insert(QStringLiteral("XDG_CONFIG_HOME"),
               QString::fromStdString((home.root / "config").string()));
    env.insert(extra);
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(QString::fromStdString(marrowbell::test::builtBinary(program).string()),
                   arguments);
    process_.waitForStarted(10000);
}

AppProcess::~AppProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

// Waits with the event loop running, so the test can answer the program's bus calls.
int AppProcess::wait(int milliseconds) {
    if (!QTest::qWaitFor([this] { return process_.state() == QProcess::NotRunning; }, milliseconds))
        return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

int AppProcess::terminate(int milliseconds) {
    process_.terminate();
    return wait(milliseconds);
}

} // namespace marrowbell::app::test
