#include "MarrowbellApp.h"

#include "panel/StatusIcons.h"

#include <QApplication>

namespace marrowbell::app {
namespace {

QString stateName(BarState state) {
    switch (state) {
    case BarState::idle:
        return QStringLiteral("idle");
    case BarState::running:
        return QStringLiteral("running");
    case BarState::attention:
        return QStringLiteral("attention");
    }
    return QStringLiteral("idle");
}

QString stateToolTip(BarState state) {
    switch (state) {
    case BarState::idle:
        return QStringLiteral("Marrowbell");
    case BarState::running:
        return QStringLiteral("Marrowbell — a job is running");
    case BarState::attention:
        return QStringLiteral("Marrowbell — a job's last run did not succeed");
    }
    return QStringLiteral("Marrowbell");
}

} // namespace

MarrowbellApp::MarrowbellApp()
    : loginItem_(QCoreApplication::applicationFilePath().toStdString())
    , model_(AppPlatform{&notifications_, &loginItem_, &termination_})
    , panel_(model_)
    , status_(panel_)
    , windows_(model_) {
    updateIcon();
    status_.start();
    connect(&model_, &AppModel::barStateChanged, this, &MarrowbellApp::updateIcon);
    connect(&model_, &AppModel::panelRequested, this, &MarrowbellApp::showPanel);

    auto edit = [this](const std::optional<Job>& job) {
        panel_.hide();
        windows_.showEditor(job);
    };
    auto settings = [this] {
        panel_.hide();
        windows_.showSettings();
    };
    connect(&panel_, &PanelView::editRequested, this, edit);
    connect(&panel_, &PanelView::settingsRequested, this, settings);
    connect(&panel_, &PanelView::quitRequested, qApp, &QApplication::quit);
    connect(&status_, &StatusItem::openRequested, this, &MarrowbellApp::showPanel);
    connect(&status_, &StatusItem::newJobRequested, this, [edit] { edit(std::nullopt); });
    connect(&status_, &StatusItem::settingsRequested, this, settings);
    connect(&status_, &StatusItem::quitRequested, qApp, &QApplication::quit);
}

MarrowbellApp::~MarrowbellApp() = default;

void MarrowbellApp::showPanel() {
    status_.showPanel();
}

void MarrowbellApp::updateIcon() {
    BarState state = model_.barState();
    status_.setIcon(StatusIcons::status(stateName(state), panel_.palette()), stateToolTip(state));
}

} // namespace marrowbell::app
