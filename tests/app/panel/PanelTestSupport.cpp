#include "PanelTestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

namespace marrowbell::app::test {

bool runInPrivateSession(bool display) {
    if (qEnvironmentVariableIsSet("MARROWBELL_PRIVATE_SESSION"))
        return false;
    const QString bus = QStandardPaths::findExecutable("dbus-run-session");
    if (bus.isEmpty() || (display && QStandardPaths::findExecutable("xvfb-run").isEmpty())) {
        ADD_FAILURE() << "dbus-run-session or xvfb-run is not installed";
        return true;
    }
    std::vector<std::string> command{bus.toStdString(), "--"};
    std::vector<std::string> environment{"MARROWBELL_PRIVATE_SESSION=1"};
    if (display) {
        command.insert(command.end(), {"xvfb-run", "-a", "-s", "-screen 0 1280x800x24"});
        environment.push_back("QT_QPA_PLATFORM=xcb");
    }
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    command.push_back(QCoreApplication::applicationFilePath().toStdString());
    command.push_back(std::string("--gtest_filter=") + info->test_suite_name() + "." +
                      info->name());
    auto result = marrowbell::test::runProcess(command, "", environment);
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    return true;
}

AppProcess::AppProcess(const std::string& program, const QStringList& arguments,
                       const marrowbell::test::CtlHome& home, bool display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& entry : home.environment()) {
        auto equals = entry.find('=');
        env.insert(QString::fromStdString(entry.substr(0, equals)),
                   QString::fromStdString(entry.substr(equals + 1)));
    }
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((home.root / "config").string()));
    if (display)
        env.insert("QT_QPA_PLATFORM", "xcb");
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

int AppProcess::wait(int milliseconds) {
    if (!QTest::qWaitFor([this] { return process_.state() == QProcess::NotRunning; }, milliseconds))
        return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

QVariant itemProperty(const QString& service, const QString& name) {
    // Items may register as "service/path".
    const qsizetype slash = service.indexOf(QLatin1Char('/'));
    auto call = QDBusMessage::createMethodCall(
        slash > 0 ? service.left(slash) : service,
        slash > 0 ? service.mid(slash) : QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), name});
    QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

} // namespace

TestStatusNotifierWatcher::TestStatusNotifierWatcher() {
    auto bus = QDBusConnection::sessionBus();
    bus.registerObject(watcherPath, this,
                       QDBusConnection::ExportScriptableContents |
                           QDBusConnection::ExportAllProperties);
    serving_ = bus.registerService(watcherName);
}

TestStatusNotifierWatcher::~TestStatusNotifierWatcher() {
    if (serving_)
        QDBusConnection::sessionBus().unregisterService(watcherName);
    QDBusConnection::sessionBus().unregisterObject(watcherPath);
}

QString TestStatusNotifierWatcher::iconOf(const QString& service) const {
    const QString name = itemProperty(service, QStringLiteral("IconName")).toString();
    const QVariant pixmaps = itemProperty(service, QStringLiteral("IconPixmap"));
    if (name.isEmpty() && !pixmaps.isValid())
        return {};
    QCryptographicHash digest(QCryptographicHash::Sha1);
    if (pixmaps.canConvert<QDBusArgument>()) {
        const auto argument = pixmaps.value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            int width = 0, height = 0;
            QByteArray bytes;
            argument.beginStructure();
            argument >> width >> height >> bytes;
            argument.endStructure();
            digest.addData(bytes);
        }
        argument.endArray();
    }
    return name + QLatin1Char(':') + QString::fromLatin1(digest.result().toHex());
}

TrayHostThread::TrayHostThread() {
    inThread_.moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(
        &inThread_, [this] { watcher_ = new TestStatusNotifierWatcher(); },
        Qt::BlockingQueuedConnection);
}

TrayHostThread::~TrayHostThread() {
    QMetaObject::invokeMethod(
        &inThread_,
        [this] {
            delete watcher_;
            // Back to the main thread, to be destroyed there.
            inThread_.moveToThread(QCoreApplication::instance()->thread());
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

} // namespace marrowbell::app::test
