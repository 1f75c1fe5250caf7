#include "model/AppModel.h"

#include "service/CoreServices.h"

namespace marrowbell::app {

struct AppModel::State {
    AppPlatform platform;
    std::vector<Job> jobs;
    std::vector<Endpoint> endpoints;
    AppSettings settings;
    std::unordered_set<Uuid> runningJobIDs;
    std::map<std::string, HarnessStatus> harnessStatus;
    std::vector<HarnessSpec> installedHarnesses;
    std::optional<std::string> startupError;
    std::optional<Job> editingJob;
    std::shared_ptr<JobStore> store;
    std::shared_ptr<RunHistory> history;
    std::shared_ptr<EndpointStore> endpointStore;
    std::shared_ptr<SettingsStore> settingsStore;
    std::shared_ptr<SchedulerService> scheduler;
    std::optional<HarnessRegistry> registry;
    ScheduleTimeline timeline = ScheduleTimeline::upcoming({}, Instant::now(), 24, 48);
    LoginItem::Status loginItemStatus = LoginItem::Status::notRegistered;
    bool notificationsAllowed = true;
    std::optional<pid_t> attachedProcessID;
};

AppModel::AppModel(AppPlatform platform, QObject* parent)
    : QObject(parent)
    , state_(std::make_unique<State>()) {
    state_->platform = platform;
    if (platform.loginItem)
        state_->loginItemStatus = platform.loginItem->status();
}

AppModel::~AppModel() = default;

const std::vector<Job>& AppModel::jobs() const {
    return state_->jobs;
}
const std::vector<Endpoint>& AppModel::endpoints() const {
    return state_->endpoints;
}
const AppSettings& AppModel::settings() const {
    return state_->settings;
}
const std::unordered_set<Uuid>& AppModel::runningJobIDs() const {
    return state_->runningJobIDs;
}
const std::map<std::string, HarnessStatus>& AppModel::harnessStatus() const {
    return state_->harnessStatus;
}
const std::vector<HarnessSpec>& AppModel::installedHarnesses() const {
    return state_->installedHarnesses;
}
const std::optional<std::string>& AppModel::startupError() const {
    return state_->startupError;
}
const std::optional<Job>& AppModel::editingJob() const {
    return state_->editingJob;
}
void AppModel::setEditingJob(const std::optional<Job>& job) {
    if (state_->editingJob == job)
        return;
    state_->editingJob = job;
    emit editingJobChanged();
}
const std::shared_ptr<JobStore>& AppModel::store() const {
    return state_->store;
}
const std::shared_ptr<RunHistory>& AppModel::history() const {
    return state_->history;
}
const std::shared_ptr<EndpointStore>& AppModel::endpointStore() const {
    return state_->endpointStore;
}
const std::shared_ptr<SettingsStore>& AppModel::settingsStore() const {
    return state_->settingsStore;
}
const std::shared_ptr<SchedulerService>& AppModel::scheduler() const {
    return state_->scheduler;
}
const HarnessRegistry* AppModel::registry() const {
    return state_->registry ? &*state_->registry : nullptr;
}
const ScheduleTimeline& AppModel::timeline() const {
    return state_->timeline;
}
LoginItem::Status AppModel::loginItemStatus() const {
    return state_->loginItemStatus;
}
bool AppModel::notificationsAllowed() const {
    return state_->notificationsAllowed;
}
bool AppModel::isAttached() const {
    return state_->attachedProcessID.has_value();
}
std::optional<pid_t> AppModel::attachedProcessID() const {
    return state_->attachedProcessID;
}
std::optional<std::string> AppModel::attachedNote() const {
    return std::nullopt;
}

BarState AppModel::barState() const {
    return BarState::idle;
}
std::string AppModel::activeJobsTitle() const {
    return "Next up";
}
std::vector<Job> AppModel::pausedJobs() const {
    return {};
}
std::optional<PanelEmptyState> AppModel::panelEmptyState() const {
    return std::nullopt;
}
std::string AppModel::defaultHarnessID() const {
    return {};
}
std::optional<SuggestedEndpoint> AppModel::newEndpointTemplate() const {
    return std::nullopt;
}
bool AppModel::isInstalled(const std::string&) const {
    return false;
}

void AppModel::refresh() {}
void AppModel::refreshNotificationAuthorization() {}
void AppModel::notificationsPermitted(Answer<bool>) {}
void AppModel::requestNotificationPermission() {}
void AppModel::setLaunchAtLogin(bool) {}
void AppModel::save(const Job&) {}
void AppModel::deleteJob(const Job&) {}
void AppModel::togglePause(const Job&) {}
void AppModel::applyBulkPause() {}
void AppModel::runNow(const Job&) {}
void AppModel::cancel(const Job&) {}
void AppModel::updateSettings(const std::function<void(AppSettings&)>&) {}
void AppModel::announce(const Job&, const RunRecord&) {}
void AppModel::post(const NotificationCenter::Content&, const QString&) {}
void AppModel::seedDefaultEndpointsIfEmpty() {}
void AppModel::refreshHarnessStatus() {}
AppModel::Capabilities AppModel::capabilities(const HarnessSpec&) const {
    return {};
}
void AppModel::resolvedCommand(const std::optional<Job>&, QObject*, Answer<std::string>) {}
void AppModel::availableModels(const std::string&, const std::optional<Uuid>&, QObject*,
                               Answer<std::vector<ModelOption>>) {}
void AppModel::availableSkills(const std::string&, QObject*, Answer<Discovery<Skill>>) {}
void AppModel::checkEndpoint(const Endpoint&, QObject*, Answer<EndpointStatus>) {}
bool AppModel::modelsComeFromEndpoint(const std::optional<Uuid>&) const {
    return false;
}
EndpointCompatibility AppModel::endpointCompatibility(const std::string&, const Endpoint&) const {
    return {};
}

} // namespace marrowbell::app
