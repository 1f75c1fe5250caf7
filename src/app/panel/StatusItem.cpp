#include "panel/StatusItem.h"

#include "panel/PopupPlacement.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>

namespace marrowbell::app {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// The popup is a frameless tool window rather than a Qt::Popup: it then keeps the
// keyboard for Tab and menus, and it closes on losing the focus, as tray popups do.
constexpr Qt::WindowFlags popupFlags =
    Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

// An XEmbed tray owns the X selection "_NET_SYSTEM_TRAY_S{screen}".
bool xembedTrayPresent() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    QByteArray name = "_NET_SYSTEM_TRAY_S0";
    auto cookie = xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData());
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!atom)
        return false;
    xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    auto owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    bool present = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return present;
}

} // namespace

StatusItem::StatusItem(QWidget& panel, QObject* parent)
    : QObject(parent)
    , panel_(panel) {
    menu_.setObjectName(QStringLiteral("statusMenu"));
    connect(menu_.addAction(QStringLiteral("Open Marrowbell")), &QAction::triggered, this,
            &StatusItem::openRequested);
    connect(menu_.addAction(QStringLiteral("New job…")), &QAction::triggered, this,
            &StatusItem::newJobRequested);
    connect(menu_.addAction(QStringLiteral("Settings…")), &QAction::triggered, this,
            &StatusItem::settingsRequested);
    menu_.addSeparator();
    connect(menu_.addAction(QStringLiteral("Quit Marrowbell")), &QAction::triggered, this,
            &StatusItem::quitRequested);
    panel_.installEventFilter(this);
}

StatusItem::~StatusItem() {
    panel_.removeEventFilter(this);
}

void StatusItem::start() {
    watchTrayHost();
    if (trayAvailable()) {
        setTrayAvailable(true);
        return;
    }
    // With no tray the panel opens at once, as the window.
    panel_.setWindowFlags(Qt::Window);
    panel_.setWindowTitle(QStringLiteral("Marrowbell"));
    showPanel();
}

// Asked here rather than of QSystemTrayIcon: Qt settles on StatusNotifierItem or XEmbed
// at its first question and keeps that answer, which would miss a tray host that
// comes later.
bool StatusItem::trayAvailable() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() &&
        bus.interface()->isServiceRegistered(watcherService).value()) {
        auto call = QDBusMessage::createMethodCall(
            watcherService, QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call.setArguments({watcherService, QStringLiteral("IsStatusNotifierHostRegistered")});
        QDBusMessage reply = bus.call(call, QDBus::Block, 1000);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
            reply.arguments().first().value<QDBusVariant>().variant().toBool())
            return true;
    }
    return xembedTrayPresent();
}

void StatusItem::setIcon(const QIcon& icon, const QString& toolTip) {
    icon_ = icon;
    toolTip_ = toolTip;
    if (tray_) {
        tray_->setIcon(icon);
        tray_->setToolTip(toolTip);
    }
}

void StatusItem::setTrayAvailable(bool available) {
    if (available == hasTray())
        return;
    panel_.hide();
    if (available) {
        tray_ = std::make_unique<QSystemTrayIcon>(icon_);
        tray_->setToolTip(toolTip_);
        tray_->setContextMenu(&menu_);
        connect(tray_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        togglePanel();
                });
        panel_.setWindowFlags(popupFlags);
        tray_->show(); // the icon takes over from the window
    } else {
        tray_.reset();
        panel_.setWindowFlags(Qt::Window);
        panel_.setWindowTitle(QStringLiteral("Marrowbell"));
        showPanel(); // with no icon to click, the window is the app's only face
    }
}

void StatusItem::showPanel() {
    if (tray_)
        placePopup();
    panel_.show();
    panel_.raise();
    panel_.activateWindow();
}

void StatusItem::togglePanel() {
    if (panel_.isVisible()) {
        panel_.hide();
        return;
    }
    if (hiddenByFocus_.isValid() && hiddenByFocus_.elapsed() < 300)
        return;
    showPanel();
}

void StatusItem::placePopup() {
    panel_.adjustSize();
    QRect icon = tray_ ? tray_->geometry() : QRect();
    QPoint pointer = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(icon.isValid() ? icon.center() : pointer);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    panel_.move(popupPosition(panel_.size(), screen->availableGeometry(), icon, pointer));
}

bool StatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &panel_ && tray_) {
        if (event->type() == QEvent::WindowDeactivate && panel_.isVisible()) {
            hiddenByFocus_.start();
            panel_.hide();
        } else if (event->type() == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            panel_.hide();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void StatusItem::watchTrayHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* watcher = new QDBusServiceWatcher(watcherService, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &StatusItem::recheckTray);
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus.connect(watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
                    QString::fromLatin1(signal), this, SLOT(recheckTray()));
}

void StatusItem::recheckTray() {
    // A new watcher registers its host a moment after it takes its name.
    QTimer::singleShot(300, this, [this] { setTrayAvailable(trayAvailable()); });
}

} // namespace marrowbell::app
