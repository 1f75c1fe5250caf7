#include "platform/FreedesktopNotifications.h"

namespace marrowbell::app {

struct FreedesktopNotifications::State {
    QDBusConnection bus;
};

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus, QObject* parent)
    : NotificationCenter(parent)
    , state_(std::make_unique<State>(State{bus})) {}

FreedesktopNotifications::~FreedesktopNotifications() = default;

NotificationCenter::Authorization FreedesktopNotifications::authorization() const {
    return Authorization::denied;
}

void FreedesktopNotifications::requestAuthorization(std::function<void(bool)> done) {
    if (done)
        done(false);
}

void FreedesktopNotifications::post(const QString&, const Content&) {}

} // namespace marrowbell::app
