#include "platform/FreedesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QStringList>
#include <QVariantMap>

namespace marrowbell::app {

namespace {

constexpr const char* interfaceName = "org.freedesktop.Notifications";
// Notifications whose closing the server never reported are forgotten beyond this many.
constexpr int rememberedNotifications = 64;

QDBusMessage busCall(const char* method) {
    return QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                          "org.freedesktop.DBus", method);
}

QString escapedMarkup(QString text) {
    return text.toHtmlEscaped();
}

} // namespace

struct FreedesktopNotifications::State {
    explicit State(QDBusConnection connection)
        : bus(std::move(connection)) {}

    QDBusConnection bus;
    QDBusServiceWatcher* watcher = nullptr;
    bool owned = false;       // a server owns the name now
    bool activatable = false; // the bus starts one on the first call
    bool known = false;       // the bus has answered about either
    QStringList capabilities;
    // The notifications on screen, by the server's id, for their "Show" action.
    QHash<uint, QString> shown;
    QList<uint> shownOrder;
};

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus, QObject* parent)
    : NotificationCenter(parent)
    , state_(std::make_unique<State>(bus)) {
    State& s = *state_;
    s.watcher =
        new QDBusServiceWatcher(service, s.bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(s.watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                setOwned(!owner.isEmpty());
            });
    s.bus.connect(service, path, interfaceName, "ActionInvoked", this,
                  SLOT(actionInvoked(uint, QString)));
    s.bus.connect(service, path, interfaceName, "NotificationClosed", this,
                  SLOT(notificationClosed(uint, uint)));

    QDBusMessage hasOwner = busCall("NameHasOwner");
    hasOwner << QString(service);
    auto* owner = new QDBusPendingCallWatcher(s.bus.asyncCall(hasOwner), this);
    connect(owner, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        QDBusPendingReply<bool> reply = *call;
        setOwned(reply.isValid() && reply.value());
    });
    auto* activatable =
        new QDBusPendingCallWatcher(s.bus.asyncCall(busCall("ListActivatableNames")), this);
    connect(activatable, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                QDBusPendingReply<QStringList> reply = *call;
                const bool was = available();
                state_->activatable = reply.isValid() && reply.value().contains(service);
                if (available() != was)
                    emit authorizationChanged();
            });
}

FreedesktopNotifications::~FreedesktopNotifications() = default;

bool FreedesktopNotifications::available() const {
    // Until the bus answers, nothing is known to be missing.
    return !state_->known || state_->owned || state_->activatable;
}

void FreedesktopNotifications::setOwned(bool owned) {
    State& s = *state_;
    const bool was = available();
    const bool wasKnown = s.known;
    s.known = true;
    s.owned = owned;
    if (owned)
        askCapabilities();
    else
        s.capabilities.clear();
    if (available() != was || !wasKnown)
        emit authorizationChanged();
}

void FreedesktopNotifications::askCapabilities() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interfaceName, "GetCapabilities");
    auto* watcher = new QDBusPendingCallWatcher(state_->bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* pending) {
                pending->deleteLater();
                QDBusPendingReply<QStringList> reply = *pending;
                if (reply.isValid())
                    state_->capabilities = reply.value();
            });
}

NotificationCenter::Authorization FreedesktopNotifications::authorization() const {
    return available() ? Authorization::authorized : Authorization::denied;
}

void FreedesktopNotifications::requestAuthorization(std::function<void(bool)> done) {
    // Nothing to ask on this desktop: a server runs or it does not.
    if (done)
        done(available());
}

void FreedesktopNotifications::post(const QString& identifier, const Content& content) {
    State& s = *state_;
    const bool markup = s.capabilities.contains("body-markup");
    QStringList parts;
    for (const QString& part : {content.subtitle, content.body})
        if (!part.isEmpty())
            parts << (markup ? escapedMarkup(part) : part);
    QVariantMap hints;
    hints["urgency"] = QVariant::fromValue<uchar>(content.critical ? 2 : 1);
    // Servers that cannot play sounds would ignore it; those that did not say play it.
    if (content.sound && (s.capabilities.isEmpty() || s.capabilities.contains("sound")))
        hints["sound-name"] = QString(soundName);
    hints["desktop-entry"] = QString("marrowbell");

    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interfaceName, "Notify");
    call << QString(appName) << uint(0) << QString(iconName) << content.title << parts.join("\n\n")
         << QStringList{"default", "Show"} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(s.bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier](QDBusPendingCallWatcher* pending) {
                pending->deleteLater();
                QDBusPendingReply<uint> reply = *pending;
                if (!reply.isValid())
                    return; // the server went away or refused: the announcement is lost
                remember(reply.value(), identifier);
            });
}

void FreedesktopNotifications::remember(uint id, const QString& identifier) {
    State& s = *state_;
    s.shown.insert(id, identifier);
    s.shownOrder.append(id);
    while (s.shownOrder.size() > rememberedNotifications)
        s.shown.remove(s.shownOrder.takeFirst());
}

void FreedesktopNotifications::actionInvoked(uint id, const QString& action) {
    const auto found = state_->shown.constFind(id);
    if (found == state_->shown.constEnd() || action != "default")
        return;
    const QString identifier = *found;
    forget(id);
    emit activated(identifier);
}

void FreedesktopNotifications::notificationClosed(uint id, uint) {
    forget(id);
}

void FreedesktopNotifications::forget(uint id) {
    state_->shown.remove(id);
    state_->shownOrder.removeAll(id);
}

} // namespace marrowbell::app
