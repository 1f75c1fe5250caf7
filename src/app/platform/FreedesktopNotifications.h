#pragma once

#include "model/NotificationCenter.h"

#include <QDBusConnection>
#include <QHash>
#include <QString>

#include <memory>

class QDBusServiceWatcher;

namespace marrowbell::app {

// Notifications through the desktop's notification server
// (org.freedesktop.Notifications on the session bus). Authorized while a server owns
// that name or the bus would start one — it may come and go, and is watched — and
// denied while none does; there is no permission to ask for. Every call to the server is
// asynchronous, so a slow or vanished server never holds up the main thread.
//
// A notification is summary = title, body = subtitle and body joined by a blank line
// (servers need not show subtitles), the application's name and icon, the default
// sound unless the server cannot play sounds, urgency normal or critical; its default
// action ("Show") comes back as `activated` with the identifier it was posted under.
class FreedesktopNotifications : public NotificationCenter {
    Q_OBJECT

public:
    static constexpr const char* service = "org.freedesktop.Notifications";
    static constexpr const char* path = "/org/freedesktop/Notifications";
    static constexpr const char* appName = "Marrowbell";
    static constexpr const char* iconName = "marrowbell";
    static constexpr const char* soundName = "message-new-instant";

    explicit FreedesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                      QObject* parent = nullptr);
    ~FreedesktopNotifications() override;

    Authorization authorization() const override;
    void requestAuthorization(std::function<void(bool granted)> done) override;
    void post(const QString& identifier, const Content& content) override;

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    struct State;

    bool available() const;
    void setOwned(bool owned);
    void askCapabilities();
    void remember(uint id, const QString& identifier);
    void forget(uint id);

    std::unique_ptr<State> state_;
};

} // namespace marrowbell::app
