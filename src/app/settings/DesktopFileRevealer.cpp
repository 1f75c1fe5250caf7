#include "settings/DesktopFileRevealer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QUrl>

namespace marrowbell::app {

DesktopFileRevealer::DesktopFileRevealer(QString opener, QString service)
    : opener_(std::move(opener))
    , service_(std::move(service)) {}

void DesktopFileRevealer::reveal(const std::filesystem::path& item,
                                 const std::filesystem::path& fallbackFolder) {
    const QString folder = QString::fromStdString(fallbackFolder.string());
    const QString opener = opener_;
    auto openFolder = [opener, folder] { QProcess::startDetached(opener, {folder}); };

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        service_, QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    const QString uri = QUrl::fromLocalFile(QString::fromStdString(item.string())).toString();
    call << QStringList{uri} << QString();
    // Asynchronous, so a file manager that is slow to start never blocks the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, replyTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolder](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             openFolder();
                         finished->deleteLater();
                     });
}

} // namespace marrowbell::app
