#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

class QWidget;

namespace marrowbell::app {

// Where the panel lives: behind a status icon in the desktop's tray (StatusNotifierItem
// or XEmbed) — a left click toggles it as a popup beside the icon, a right click shows a
// short menu — or, where no tray exists, in an ordinary window titled "Marrowbell",
// shown at start; closing it hides it and the app goes on. It follows a tray host
// appearing or going away on the session bus without a restart.
class StatusItem : public QObject {
    Q_OBJECT
public:
    // `panel` is the panel widget, turned into a popup or a window as the tray allows.
    explicit StatusItem(QWidget& panel, QObject* parent = nullptr);
    ~StatusItem() override;

    // Shows the icon, or the window where no tray exists; set the icon first.
    void start();

    void setIcon(const QIcon& icon, const QString& toolTip);
    bool hasTray() const { return tray_ != nullptr; }
    QSystemTrayIcon* tray() const { return tray_.get(); }
    QMenu& menu() { return menu_; }

    // Shows the panel: beside the icon, or as the window when there is no tray.
    void showPanel();
    void togglePanel();
    // Switches between tray and window; called when the tray host changes.
    void setTrayAvailable(bool available);
    // Whether a tray exists now, asked of the platform.
    static bool trayAvailable();

signals:
    void openRequested();
    void newJobRequested();
    void settingsRequested();
    void quitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void recheckTray();

private:
    void watchTrayHost();
    void placePopup();

    QWidget& panel_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QMenu menu_;
    QIcon icon_;
    QString toolTip_;
    // A click on the icon first takes the focus from the popup, which hides it; the
    // click that follows must not show it again.
    QElapsedTimer hiddenByFocus_;
};

} // namespace marrowbell::app
