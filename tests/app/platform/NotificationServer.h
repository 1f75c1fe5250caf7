#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace marrowbell::app::test {

// A notification server on the session bus for the tests, on a connection and a thread
// of its own (so it can be slow without holding up the main thread): it records each
// Notify call, answers with increasing ids and can emit the signals a desktop sends.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName;
        uint replacesID = 0;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
    };

    explicit NotificationServer(QStringList capabilities = {"body", "actions", "sound"});
    ~NotificationServer() override;

    // Takes the name on the bus, or gives it up.
    bool appear();
    void disappear();

    // Before answering a Notify, waits until this returns (on the server's thread).
    void setBeforeAnswer(std::function<void()> wait);

    std::vector<Call> calls() const;
    // Emits the desktop's signals for notification `id`.
    void invokeAction(uint id, const QString& action);
    void close(uint id);

public slots:
    QStringList GetCapabilities();
    uint Notify(const QString& appName, uint replacesID, const QString& icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout);
    void CloseNotification(uint id);
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion);

private:
    void onThread(const std::function<void()>& work);

    QThread thread_;
    QString connectionName_;
    const QStringList capabilities_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::function<void()> beforeAnswer_;
    uint nextID_ = 1;
};

} // namespace marrowbell::app::test
