#include "settings/SettingsWindow.h"

#include "settings/DesktopFileRevealer.h"
#include "settings/EndpointsPane.h"
#include "settings/GeneralPane.h"
#include "settings/HarnessesPane.h"

#include <QCloseEvent>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace marrowbell::app {

SettingsWindow::SettingsWindow(AppModel& model, QWidget* parent)
    : SettingsWindow(model, std::make_unique<DesktopFileRevealer>(), parent) {}

SettingsWindow::SettingsWindow(AppModel& model, std::unique_ptr<FileRevealer> files,
                               QWidget* parent)
    : QWidget(parent, Qt::Window)
    , files_(std::move(files))
    , tabs_(new QTabWidget)
    , general_(new GeneralPane(model, *files_))
    , endpoints_(new EndpointsPane(model))
    , harnesses_(new HarnessesPane(model)) {
    setObjectName("settings");
    setWindowTitle("Marrowbell Settings");
    auto* layout = new QVBoxLayout(this);
    // The general tab is the tallest: it scrolls rather than push the window off a
    // small screen.
    auto* general = new QScrollArea;
    general->setWidget(general_);
    general->setWidgetResizable(true);
    general->setFrameShape(QFrame::NoFrame);
    tabs_->addTab(general, "General");
    tabs_->addTab(endpoints_, "Endpoints");
    tabs_->addTab(harnesses_, "Harnesses");
    tabs_->setDocumentMode(true);
    layout->addWidget(tabs_);
    resize(680, 700);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::setNotificationSettingsOpener(std::function<void()> open) {
    general_->setNotificationSettingsOpener(std::move(open));
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    endpoints_->cancelChecks();
    QWidget::closeEvent(event);
}

} // namespace marrowbell::app
