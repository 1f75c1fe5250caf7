#pragma once

#include "ctl/SchedulerCommandSupport.h"

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <QThread>

namespace marrowbell::app::test {

// Some tests need a session bus (and a display) of their own: a tray host or the
// app's single-instance name must not be seen by tests running beside them. Such a
// test calls `runInPrivateSession` first: in the test run it starts this test program
// again, for that test alone, inside `dbus-run-session` (and `xvfb-run` when
// `display`, on which it then draws), and reports whether it passed there; inside, it
// returns false and the test body runs.
bool runInPrivateSession(bool display);

// A built program started in `home`'s environment (on the X display when `display`),
// killed at the end if still running.
class AppProcess {
public:
    AppProcess(const std::string& program, const QStringList& arguments,
               const marrowbell::test::CtlHome& home, bool display = false);
    ~AppProcess();
    QProcess& process() { return process_; }
    // The exit code, or -1 when it did not end within `milliseconds`. The event loop runs
    // meanwhile, so the test can answer the program's bus calls.
    int wait(int milliseconds);

private:
    QProcess process_;
};

// A tray host as desktops provide it: "org.kde.StatusNotifierWatcher" with a host
// registered, keeping the items that register, so a test can read what an item shows.
// Only the thread it lives on touches the items.
class TestStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER items_)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    TestStatusNotifierWatcher();
    ~TestStatusNotifierWatcher() override;
    bool isServing() const { return serving_; } // whether the name was taken
    const QStringList& registeredItems() const { return items_; }
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    // What the item `service` shows as its icon now: its icon name and a digest of its
    // pixmaps; empty when it cannot be read.
    QString iconOf(const QString& service) const;

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) {
        if (!items_.contains(service))
            items_ << service;
        emit StatusNotifierItemRegistered(service);
    }
    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString&) {
        emit StatusNotifierHostRegistered();
    }

signals:
    Q_SCRIPTABLE void StatusNotifierItemRegistered(const QString& service);
    Q_SCRIPTABLE void StatusNotifierHostRegistered();

private:
    bool serving_ = false;
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
