#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QTabWidget;

namespace marrowbell::app {

class AppModel;
class EndpointsPane;
class FileRevealer;
class GeneralPane;
class HarnessesPane;

// The settings window: the tabs "General", "Endpoints" and "Harnesses". Everything
// it shows comes from the model and every change is saved at once; it keeps nothing
// but what is being edited. Closing it stops the endpoint checks it started.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(AppModel& model, QWidget* parent = nullptr);
    // With the file manager the "Show in Files" button uses.
    SettingsWindow(AppModel& model, std::unique_ptr<FileRevealer> files, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // How to open the desktop's notification settings; without one (the default) the
    // notifications warning has no "Open Settings…" link.
    void setNotificationSettingsOpener(std::function<void()> open);

    GeneralPane& general() const { return *general_; }
    EndpointsPane& endpoints() const { return *endpoints_; }
    HarnessesPane& harnesses() const { return *harnesses_; }
    QTabWidget& tabs() const { return *tabs_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<FileRevealer> files_;
    QTabWidget* tabs_;
    GeneralPane* general_;
    EndpointsPane* endpoints_;
    HarnessesPane* harnesses_;
};

} // namespace marrowbell::app
