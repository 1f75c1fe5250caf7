#include "panel/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace marrowbell::app {
namespace {

const QString objectPath = QStringLiteral("/app/marrowbell/Marrowbell");
const QString interfaceName = QStringLiteral("app.marrowbell.Marrowbell");

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QString service, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , service_(std::move(service)) {}

SingleInstance::~SingleInstance() {
    if (claimed_) {
        bus_.unregisterObject(objectPath);
        bus_.unregisterService(service_);
    }
}

bool SingleInstance::claim() {
    if (!bus_.isConnected() || !bus_.interface())
        return true;
    auto reply =
        bus_.interface()->registerService(service_, QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered)
        return false;
    claimed_ = true;
    bus_.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots);
    return true;
}

bool SingleInstance::showFirst() {
    auto call = QDBusMessage::createMethodCall(service_, objectPath, interfaceName,
                                               QStringLiteral("ShowPanel"));
    // Events keep flowing while waiting, so an instance may also ask itself.
    return bus_.call(call, QDBus::BlockWithGui, 5000).type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::ShowPanel() {
    emit showRequested();
}

} // namespace marrowbell::app
