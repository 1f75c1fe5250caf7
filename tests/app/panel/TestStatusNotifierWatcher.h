#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <mutex>

namespace marrowbell::app::test {

// A tray host as desktops provide it: "org.kde.StatusNotifierWatcher" on the bus with
// a host registered, keeping the items that register, so a test can read what an
// item shows.
class TestStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit TestStatusNotifierWatcher(QDBusConnection bus = QDBusConnection::sessionBus());
    ~TestStatusNotifierWatcher() override;

    // Whether the name was taken.
    bool isServing() const { return serving_; }
    QStringList registeredItems() const;
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    // What the item `service` shows as its icon now: its icon name and a digest of
    // its pixmaps; empty when it cannot be read.
    QString iconOf(const QString& service) const;

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service);
    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString& service);

signals:
    Q_SCRIPTABLE void StatusNotifierItemRegistered(const QString& service);
    Q_SCRIPTABLE void StatusNotifierItemUnregistered(const QString& service);
    Q_SCRIPTABLE void StatusNotifierHostRegistered();
    Q_SCRIPTABLE void StatusNotifierHostUnregistered();

private:
    QDBusConnection bus_;
    bool serving_ = false;
    mutable std::mutex mutex_;
    QStringList items_;
};

// The watcher on a thread of its own, so that the process it runs in may also call it
// and wait for the answer, as Qt's tray icon does when it registers.
class TrayHostThread {
public:
    TrayHostThread();
    ~TrayHostThread();
    TestStatusNotifierWatcher& watcher() { return *watcher_; }

private:
    QThread thread_;
    QObject inThread_; // moved to the thread: what runs there is invoked on it
    TestStatusNotifierWatcher* watcher_ = nullptr;
};

} // namespace marrowbell::app::test
