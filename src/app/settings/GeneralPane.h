#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QWidget;

namespace marrowbell::app {

class AppModel;
class FileRevealer;

// The "General" tab: start at login, the defaults for new jobs, catch-up, the data
// folder and updates. Shows the model's settings and writes every change through
// `AppModel::updateSettings` at once. Controls are named (objectName) after what
// they change.
class GeneralPane : public QWidget {
    Q_OBJECT
public:
    GeneralPane(AppModel& model, FileRevealer& files, QWidget* parent = nullptr);

    void setNotificationSettingsOpener(std::function<void()> open);

private:
    void addStartup(QFormLayout& form);
    void addDefaults(QFormLayout& form);
    void addScheduling(QFormLayout& form);
    void addStoredData(QFormLayout& form);
    void addUpdates(QFormLayout& form);

    // Show the model's current state; none of them writes anything.
    void showLoginItem();
    void showHarnesses();
    void showEndpoints();
    void showSettings();
    void showNotificationsWarning();

    AppModel& model_;
    FileRevealer& files_;
    std::function<void()> openNotificationSettings_;
    QCheckBox* launchAtLogin_ = nullptr;
    QLabel* loginItemProblem_ = nullptr;
    QComboBox* harness_ = nullptr;
    QComboBox* endpoint_ = nullptr;
    QSpinBox* stopAfter_ = nullptr;
    QLabel* stopAfterLabel_ = nullptr;
    QCheckBox* notifyOnFailureOnly_ = nullptr;
    QWidget* notificationsWarning_ = nullptr;
    QLabel* openNotificationSettingsLink_ = nullptr;
    QComboBox* catchUp_ = nullptr;
};

} // namespace marrowbell::app
