#include "settings/GeneralPane.h"

#include "model/AppModel.h"
#include "settings/FileRevealer.h"
#include "settings/SettingsLayout.h"
#include "settings/SettingsText.h"
#include "settings/Updates.h"

#include "base/TimeZone.h"
#include "settings/SettingRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

namespace marrowbell::app {
namespace {

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), qsizetype(value.size()));
}

} // namespace

GeneralPane::GeneralPane(AppModel& model, FileRevealer& files, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , files_(files) {
    // One form for every section, so the labels of all of them line up.
    auto* form = new QFormLayout(this);
    SettingsLayout::styleForm(*form);
    addStartup(*form);
    addDefaults(*form);
    addScheduling(*form);
    addStoredData(*form);
    addUpdates(*form);
    // Pickers as wide as their longest entry needs, not the window.
    for (QComboBox* picker : {harness_, endpoint_, catchUp_})
        picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (QComboBox* picker : {harness_, endpoint_, catchUp_})
        picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    connect(&model_, &AppModel::loginItemStatusChanged, this, &GeneralPane::showLoginItem);
    connect(&model_, &AppModel::installedHarnessesChanged, this, &GeneralPane::showHarnesses);
    connect(&model_, &AppModel::endpointsChanged, this, &GeneralPane::showEndpoints);
    connect(&model_, &AppModel::settingsChanged, this, &GeneralPane::showSettings);
    connect(&model_, &AppModel::notificationsAllowedChanged, this,
            &GeneralPane::showNotificationsWarning);
    showLoginItem();
    showHarnesses();
    showEndpoints();
    showSettings();
    showNotificationsWarning();
}

void GeneralPane::setNotificationSettingsOpener(std::function<void()> open) {
    openNotificationSettings_ = std::move(open);
    openNotificationSettingsLink_->setVisible(bool(openNotificationSettings_));
}

void GeneralPane::addStartup(QFormLayout& form) {
    SettingsLayout::section(form, "Startup");
    launchAtLogin_ = new QCheckBox("Launch at login");
    launchAtLogin_->setObjectName("launchAtLogin");
    loginItemProblem_ = SettingsLayout::problem("loginItemProblem");
    connect(launchAtLogin_, &QCheckBox::toggled, this, [this](bool enabled) {
        model_.setLaunchAtLogin(enabled);
        // The toggle shows what holds, and why when it is not what was asked for.
        const bool failed = (model_.loginItemStatus() == LoginItem::Status::enabled) != enabled;
        loginItemProblem_->setText(failed && model_.startupError()
                                       ? QString::fromStdString(*model_.startupError())
                                       : QString());
        loginItemProblem_->setVisible(failed && model_.startupError());
        showLoginItem();
    });
    form.addRow(QString(), launchAtLogin_);
    form.addRow(QString(), loginItemProblem_);
    // A login item never awaits approval here, so the reason to keep it on always shows.
    form.addRow(QString(),
                SettingsLayout::note("A scheduler that does not return after a reboot quietly "
                                     "stops doing the one thing it is for."));
}

void GeneralPane::addDefaults(QFormLayout& form) {
    SettingsLayout::section(form, "Defaults for new jobs");

    harness_ = new QComboBox;
    harness_->setObjectName("defaultHarness");
    connect(harness_, &QComboBox::activated, this, [this](int index) {
        const std::string id = harness_->itemData(index).toString().toStdString();
        model_.updateSettings([id](AppSettings& settings) { settings.defaultHarnessID = id; });
    });
    form.addRow("Harness", harness_);

    endpoint_ = new QComboBox;
    endpoint_->setObjectName("defaultEndpoint");
    connect(endpoint_, &QComboBox::activated, this, [this](int index) {
        const QString id = endpoint_->itemData(index).toString();
        const std::optional<Uuid> chosen = Uuid::parse(id.toStdString());
        model_.updateSettings(
            [chosen](AppSettings& settings) { settings.defaultEndpointID = chosen; });
    });
    form.addRow("Endpoint", endpoint_);

    auto* stopAfter = new QWidget;
    auto* stopAfterRow = new QHBoxLayout(stopAfter);
    stopAfterRow->setContentsMargins(0, 0, 0, 0);
    stopAfter_ = new QSpinBox;
    stopAfter_->setObjectName("stopAfter");
    stopAfter_->setRange(SettingRules::minTimeoutMinutes, SettingRules::maxTimeoutMinutes);
    stopAfter_->setSuffix(" min");
    stopAfter_->setAccessibleName("Stop after, in minutes");
    // Typing "120" saves once, not for 1, 12 and 120.
    stopAfter_->setKeyboardTracking(false);
    connect(stopAfter_, &QSpinBox::valueChanged, this, [this](int minutes) {
        model_.updateSettings([minutes](AppSettings& settings) {
            settings.defaults.timeoutSeconds = minutes * 60.0;
        });
    });
    stopAfterLabel_ = new QLabel;
    stopAfterLabel_->setObjectName("stopAfterLabel");
    stopAfterRow->addWidget(stopAfter_);
    stopAfterRow->addWidget(stopAfterLabel_, 1);
    form.addRow("Stop after", stopAfter);

    notifyOnFailureOnly_ = new QCheckBox("Only notify me when a run fails");
    notifyOnFailureOnly_->setObjectName("notifyOnFailureOnly");
    connect(notifyOnFailureOnly_, &QCheckBox::toggled, this, [this](bool only) {
        model_.updateSettings(
            [only](AppSettings& settings) { settings.defaults.notifyOnFailureOnly = only; });
    });
    form.addRow(QString(), notifyOnFailureOnly_);

    notificationsWarning_ = new QWidget;
    notificationsWarning_->setObjectName("notificationsWarning");
    auto* warningRow = new QHBoxLayout(notificationsWarning_);
    warningRow->setContentsMargins(0, 0, 0, 0);
    warningRow->addWidget(
        SettingsLayout::warning(
            "Notifications are turned off for Marrowbell, so runs cannot report."),
        1);
    openNotificationSettingsLink_ = new QLabel("<a href=\"settings\">Open Settings…</a>");
    openNotificationSettingsLink_->setObjectName("openNotificationSettings");
    openNotificationSettingsLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                                           Qt::LinksAccessibleByKeyboard);
    openNotificationSettingsLink_->setVisible(false);
    connect(openNotificationSettingsLink_, &QLabel::linkActivated, this, [this] {
        if (openNotificationSettings_)
            openNotificationSettings_();
    });
    warningRow->addWidget(openNotificationSettingsLink_, 0, Qt::AlignTop);
    form.addRow(QString(), notificationsWarning_);
}

void GeneralPane::addScheduling(QFormLayout& form) {
    SettingsLayout::section(form, "Scheduling");
    catchUp_ = new QComboBox;
    catchUp_->setObjectName("catchUp");
    connect(catchUp_, &QComboBox::activated, this, [this](int index) {
        const Seconds grace = catchUp_->itemData(index).toDouble();
        model_.updateSettings(
            [grace](AppSettings& settings) { settings.catchUpGraceSeconds = grace; });
    });
    form.addRow("Catch up on missed runs", catchUp_);
    form.addRow(QString(), SettingsLayout::note(
                               "A lapse collapses to one decision about the most recent "
                               "slot, so a laptop closed for days never wakes to a backlog."));
    auto* zone = new QLabel(QString::fromStdString(TimeZone::system().identifier()));
    zone->setObjectName("timeZone");
    zone->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form.addRow("Time zone", zone);
}

void GeneralPane::addStoredData(QFormLayout& form) {
    SettingsLayout::section(form, "Stored data");
    auto* show = new QPushButton("Show in Files");
    show->setObjectName("showJobsInFiles");
    show->setAccessibleName("Show the Jobs folder in Files");
    const auto& store = model_.store();
    show->setEnabled(store != nullptr);
    if (store) {
        const std::filesystem::path jobs = store->directory();
        show->setToolTip(QString::fromStdString(jobs.string()));
        connect(show, &QPushButton::clicked, this,
                [this, jobs] { files_.reveal(jobs, jobs.parent_path()); });
    }
    auto* row = new QHBoxLayout;
    row->addWidget(show);
    row->addStretch(1);
    form.addRow("Jobs", row);
}

void GeneralPane::addUpdates(QFormLayout& form) {
    SettingsLayout::section(form, "Updates");
    auto* version = new QLabel(QString::fromStdString(Updates::version()));
    version->setObjectName("version");
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form.addRow("Version", version);

    auto* automatic = new QCheckBox("Check for updates automatically");
    automatic->setObjectName("checkAutomatically");
    automatic->setChecked(Updates::automaticallyChecks);
    automatic->setEnabled(false);
    auto* checkNow = new QPushButton("Check now");
    checkNow->setObjectName("checkNow");
    checkNow->setEnabled(Updates::canCheck);
    auto* row = new QHBoxLayout;
    row->addWidget(automatic);
    row->addStretch(1);
    row->addWidget(checkNow);
    form.addRow(QString(), row);
    form.addRow(QString(), SettingsLayout::note(text(Updates::note)));
}

void GeneralPane::showLoginItem() {
    const QSignalBlocker quiet(launchAtLogin_);
    launchAtLogin_->setChecked(model_.loginItemStatus() == LoginItem::Status::enabled);
}

void GeneralPane::showHarnesses() {
    const QSignalBlocker quiet(harness_);
    harness_->clear();
    for (const HarnessSpec& spec : model_.installedHarnesses())
        harness_->addItem(QString::fromStdString(spec.displayName),
                          QString::fromStdString(spec.id));
    const QString chosen = QString::fromStdString(model_.defaultHarnessID());
    int index = harness_->findData(chosen);
    if (index < 0 && !chosen.isEmpty()) {
        // A default set to a harness that is not installed (any more) is still shown as
        // it is, rather than as a choice nobody made.
        QString name = chosen;
        if (const HarnessRegistry* registry = model_.registry()) {
            try {
                name = QString::fromStdString(registry->spec(chosen.toStdString()).displayName);
            } catch (const std::exception&) {
            }
        }
        harness_->addItem(name + " (not installed)", chosen);
        index = harness_->count() - 1;
    }
    harness_->setCurrentIndex(index);
    harness_->setEnabled(harness_->count() > 0);
}

void GeneralPane::showEndpoints() {
    const QSignalBlocker quiet(endpoint_);
    endpoint_->clear();
    endpoint_->addItem("Harness default", QString());
    for (const Endpoint& endpoint : model_.endpoints())
        endpoint_->addItem(
            QString::fromStdString(endpoint.name + " · " + endpoint.shortDescription()),
            QString::fromStdString(endpoint.id.text()));
    const auto& chosen = model_.settings().defaultEndpointID;
    endpoint_->setCurrentIndex(
        chosen ? std::max(0, endpoint_->findData(QString::fromStdString(chosen->text()))) : 0);
}

void GeneralPane::showSettings() {
    const AppSettings& settings = model_.settings();
    const int minutes = SettingRules::timeoutMinutes(settings.defaults.timeoutSeconds);
    {
        const QSignalBlocker quiet(stopAfter_);
        stopAfter_->setValue(minutes);
    }
    stopAfterLabel_->setText(QString::fromStdString(SettingRules::timeoutLabel(minutes)));
    {
        const QSignalBlocker quiet(notifyOnFailureOnly_);
        notifyOnFailureOnly_->setChecked(settings.defaults.notifyOnFailureOnly);
    }
    {
        const QSignalBlocker quiet(catchUp_);
        catchUp_->clear();
        for (const auto& choice : SettingRules::catchUpChoices)
            catchUp_->addItem(text(choice.title), choice.graceSeconds);
        int index = catchUp_->findData(settings.catchUpGraceSeconds);
        if (index < 0) {
            // A grace set from a terminal is shown and kept until another is chosen.
            catchUp_->addItem(QString::fromStdString(
                                  SettingsText::otherCatchUpTitle(settings.catchUpGraceSeconds)),
                              settings.catchUpGraceSeconds);
            index = catchUp_->count() - 1;
        }
        catchUp_->setCurrentIndex(index);
    }
    showHarnesses();
    showEndpoints();
}

void GeneralPane::showNotificationsWarning() {
    notificationsWarning_->setVisible(!model_.notificationsAllowed());
}

} // namespace marrowbell::app
