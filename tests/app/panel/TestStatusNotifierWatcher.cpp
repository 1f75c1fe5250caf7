#include "TestStatusNotifierWatcher.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

namespace marrowbell::app::test {
namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");

QVariant itemProperty(const QDBusConnection& bus, const QString& service, const QString& name) {
    QString path = QStringLiteral("/StatusNotifierItem");
    QString owner = service;
    // Items may register as "service/path".
    if (int slash = service.indexOf(QLatin1Char('/')); slash > 0) {
        owner = service.left(slash);
        path = service.mid(slash);
    }
    auto call = QDBusMessage::createMethodCall(
        owner, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call.setArguments({itemInterface, name});
    QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

} // namespace

TestStatusNotifierWatcher::TestStatusNotifierWatcher(QDBusConnection bus)
    : bus_(std::move(bus)) {
    bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                        QDBusConnection::ExportScriptableContents |
                            QDBusConnection::ExportAllProperties);
    serving_ = bus_.registerService(watcherName);
}

TestStatusNotifierWatcher::~TestStatusNotifierWatcher() {
    if (serving_)
        bus_.unregisterService(watcherName);
    bus_.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
}

QStringList TestStatusNotifierWatcher::registeredItems() const {
    std::lock_guard lock(mutex_);
    return items_;
}

void TestStatusNotifierWatcher::RegisterStatusNotifierItem(const QString& service) {
    {
        std::lock_guard lock(mutex_);
        if (!items_.contains(service))
            items_ << service;
    }
    emit StatusNotifierItemRegistered(service);
}

void TestStatusNotifierWatcher::RegisterStatusNotifierHost(const QString&) {
    emit StatusNotifierHostRegistered();
}

QString TestStatusNotifierWatcher::iconOf(const QString& service) const {
    QString name = itemProperty(bus_, service, QStringLiteral("IconName")).toString();
    QVariant pixmaps = itemProperty(bus_, service, QStringLiteral("IconPixmap"));
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
    if (name.isEmpty() && !pixmaps.isValid())
        return {};
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
        &inThread_, [this] { delete watcher_; }, Qt::BlockingQueuedConnection);
    // Back to this thread, to be destroyed here.
    QMetaObject::invokeMethod(
        &inThread_, [this] { inThread_.moveToThread(QCoreApplication::instance()->thread()); },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

} // namespace marrowbell::app::test
