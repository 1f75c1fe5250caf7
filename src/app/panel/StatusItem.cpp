#include "panel/StatusItem.h"

#include "panel/PopupPlacement.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace marrowbell::app {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// The popup is a frameless tool window rather than a Qt::Popup: it then keeps the
// keyboard for Tab and menus, and it closes on losing the focus, as tray popups do.
constexpr Qt::WindowFlags popupFlags =
    Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

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

bool StatusItem::trayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
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
