#include "model/AppModel.h"

#include "model/MainQueue.h"
#include "model/SchedulerLink.h"

#include "base/Files.h"
#include "control/ControlProtocol.h"
#include "control/ControlServer.h"
#include "endpoint/EndpointProbe.h"
#include "endpoint/SecretStore.h"
#include "harness/CommandBuilder.h"
#include "harness/ModelCatalog.h"
#include "job/BulkPause.h"
#include "job/JobOrder.h"
#include "run/JobRunner.h"
#include "scheduler/SchedulerLock.h"
#include "service/CoreServices.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace marrowbell::app {

namespace {

constexpr double timelineHours = 24;
constexpr std::int64_t timelineMarksPerJob = 48;
constexpr Seconds probeTimeout = 5;
constexpr int notificationDetailLimit = 300;

// Why a store's file cannot be read at all (not merely damaged, which the store
// repairs): none when it can, or when there is none yet.
std::optional<std::string> unreadable(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        return std::system_error(errno, std::generic_category(), "Could not read " + file.string())
            .what();
    }
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    if (!regular)
        return "Could not read " + file.string() + ": it is not a regular file";
    return std::nullopt;
}

enum class Priority { utility, userInitiated };

// Slow work (harness executables, endpoints) on a thread of its own, holding only
// copies; its answer comes back through a MainQueue.
void inBackground(Priority priority, std::function<void()> work) {
    std::thread([priority, work = std::move(work)] {
        if (priority == Priority::utility)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
        work();
    }).detach();
}

std::optional<std::filesystem::path> executableOf(const HarnessRegistry& registry,
                                                  const HarnessSpec& spec) {
    try {
        return registry.resolveExecutable(spec);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<SkillSource> skillSourceOf(const HarnessSpec& spec) {
    return spec.skills ? spec.skills->source : std::nullopt;
}

bool containsIgnoringCase(const std::string& text, const std::string& part) {
    return QString::fromStdString(text).contains(QString::fromStdString(part), Qt::CaseInsensitive);
}

std::string endpointCapability(const LocalEndpointStyle& style) {
    struct Visitor {
        std::string operator()(const LocalEndpointStyle::Environment& s) { return s.variable; }
        std::string operator()(const LocalEndpointStyle::LocalProvider& s) {
            return s.providerFlag;
        }
        std::string operator()(const LocalEndpointStyle::ModelPrefix&) { return "model prefix"; }
        std::string operator()(const LocalEndpointStyle::Configuration& s) {
            using Delivery = LocalEndpointStyle::Configuration::Delivery;
            switch (s.delivery) {
            case Delivery::overrides:
                return s.flag;
            case Delivery::environment:
                return s.variable;
            case Delivery::file:
                return s.fileName;
            }
            return "configuration";
        }
        std::string operator()(const LocalEndpointStyle::Unsupported&) { return "not per run"; }
    };
    return std::visit(Visitor{}, style.style);
}

} // namespace

// What reaches the main thread from the core's threads: refreshes (several requests
// before one runs make one refresh) and the history's new records.
struct Relay {
    std::shared_ptr<MainQueue> queue;
    std::atomic<bool> refreshPosted{false};
    std::atomic<bool> recordsPosted{false};
    std::function<void()> refresh;      // main thread
    std::function<void()> recordsAdded; // main thread

    void refreshSoon() {
        if (!refreshPosted.exchange(true))
            queue->post([this] {
                refreshPosted = false;
                refresh();
            });
    }
    void recordsSoon() {
        if (!recordsPosted.exchange(true))
            queue->post([this] {
                recordsPosted = false;
                recordsAdded();
            });
    }
};

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
    // The runs of the next hours as of `timelineStart`, laid out at the first read
    // after each refresh: with the panel closed nobody reads it.
    std::optional<ScheduleTimeline> timeline;
    Instant timelineStart;
    LoginItem::Status loginItemStatus = LoginItem::Status::notRegistered;
    bool notificationsAllowed = true;
    std::optional<pid_t> attachedProcessID;
    BarState barState = BarState::idle;

    std::shared_ptr<MainQueue> queue;
    // Owned here, shared with the callbacks of the core; lives as long as the model.
    std::shared_ptr<Relay> relay;
    std::unique_ptr<CoreServices> core;
    std::shared_ptr<ControlServer> control;
    std::unique_ptr<SchedulerLink> link;
    std::vector<Subscription> subscriptions;
    // The names of the jobs another process's scheduler runs, for its announcements.
    std::unordered_map<Uuid, std::string> attachedRunNames;
    bool shutDown = false;

    // The latest query of each kind from each receiver.
    std::map<std::pair<const QObject*, std::string>, std::uint64_t> queries;
    std::uint64_t queriesBegun = 0;

    Instant now() const { return platform.clock ? platform.clock() : Instant::now(); }
};

// Debug builds stop at the first use of the model off the main thread.
#ifdef NDEBUG
#define MARROWBELL_MAIN_THREAD() ((void)0)
#else
#define MARROWBELL_MAIN_THREAD()                                                                   \
    do {                                                                                           \
        if (QThread::currentThread() != thread())                                                  \
            qFatal("AppModel::%s called off the main thread", __func__);                           \
    } while (false)
#endif

AppModel::AppModel(AppPlatform platform, QObject* parent)
    : QObject(parent)
    , state_(std::make_unique<State>()) {
    State& s = *state_;
    // 1. Every field as before start-up.
    s.platform = std::move(platform);
    s.timelineStart = s.now();
    if (s.platform.loginItem)
        s.loginItemStatus = s.platform.loginItem->status();
    s.queue = MainQueue::create(this);
    s.relay = std::make_shared<Relay>();
    s.relay->queue = s.queue;
    s.relay->refresh = [this] { refresh(); };
    s.relay->recordsAdded = [this] {
        emit historyChanged();
        updateBarState();
    };
    if (s.platform.notifications) {
        connect(s.platform.notifications, &NotificationCenter::authorizationChanged, this,
                &AppModel::refreshNotificationAuthorization);
        connect(s.platform.notifications, &NotificationCenter::activated, this,
                &AppModel::panelRequested);
    }
    refreshNotificationAuthorization();

    // 2.–6. The core's services, all or none.
    std::unique_ptr<CoreServices> core;
    try {
        core = std::make_unique<CoreServices>(CoreServices::LockPolicy::ifFree,
                                              [relay = s.relay] { relay->refreshSoon(); });
        for (const std::filesystem::path& file :
             {core->history()->fileURL().value_or(std::filesystem::path()),
              core->endpoints()->fileURL(), core->settings()->fileURL()})
            if (auto why = file.empty() ? std::nullopt : unreadable(file))
                throw std::runtime_error(*why);
    } catch (const std::exception& error) {
        s.startupError = error.what();
        return;
    }
    // 7.–9.
    install(std::move(core));
    // 11.
    seedDefaultEndpointsIfEmpty();
    // 12. Quitting stops the runs and writes the history.
    if (s.platform.termination)
        connect(s.platform.termination, &Termination::willTerminate, this, &AppModel::shutDown);
    else
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &AppModel::shutDown);
    // 13.
    if (s.scheduler)
        s.scheduler->start();
}

AppModel::~AppModel() {
    shutDown();
    state_->queue->close();
    state_->subscriptions.clear();
}

void AppModel::install(std::unique_ptr<CoreServices> core) {
    State& s = *state_;
    s.subscriptions.clear();
    s.link.reset();
    // 7. Publish, in order.
    s.registry = core->registry();
    emit registryChanged();
    s.store = core->jobs();
    emit storeChanged();
    s.history = core->history();
    emit historyChanged();
    s.endpointStore = core->endpoints();
    emit endpointStoreChanged();
    s.settingsStore = core->settings();
    emit settingsStoreChanged();
    s.scheduler = core->scheduler();
    emit schedulerChanged();
    // Keeps the previous services (an attached start) until the new ones are in place.
    std::swap(s.core, core);
    core.reset();

    // The stores follow their files; what changes reaches the model through them.
    const std::shared_ptr<Relay> relay = s.relay;
    s.subscriptions.push_back(
        s.store->subscribe([relay](const IdChanges&) { relay->refreshSoon(); }));
    s.subscriptions.push_back(
        s.endpointStore->subscribe([relay](const IdChanges&) { relay->refreshSoon(); }));
    s.subscriptions.push_back(
        s.settingsStore->subscribe([relay](const AppSettings&) { relay->refreshSoon(); }));
    s.subscriptions.push_back(
        s.history->subscribe([relay](const std::vector<RunRecord>&) { relay->recordsSoon(); }));

    if (s.scheduler) {
        setAttached(std::nullopt);
        startScheduling();
    } else {
        attach();
    }
    // 9.
    refresh();
}

void AppModel::startScheduling() {
    State& s = *state_;
    // 8. The scheduler's callbacks hop to the main thread; the queue drops them once the
    // model is gone.
    try {
        s.control = ControlServer::start({s.scheduler, s.store, s.core->live(), "app"},
                                         ControlProtocol::socketPath());
    } catch (const std::exception&) {
        // No control channel: the jobs still run; marrowbellctl cannot reach them.
    }
    std::weak_ptr<ControlServer> control = s.control;
    const std::shared_ptr<Relay> relay = s.relay;
    const std::shared_ptr<MainQueue> queue = s.queue;
    s.scheduler->setOnChange([relay, control] {
        relay->refreshSoon();
        if (auto server = control.lock())
            server->changed("jobs");
    });
    s.scheduler->setOnRunStarted(
        [this, queue](const Job& job) { queue->post([this, id = job.id] { runStarted(id); }); });
    s.scheduler->setOnRunFinished([this, queue, control](const Job& job, const RunRecord& record) {
        if (auto server = control.lock())
            server->runFinished(job, record);
        queue->post(
            [this, id = job.id, name = job.name, record] { runFinished(id, name, record); });
    });
}

void AppModel::attach() {
    State& s = *state_;
    const std::optional<pid_t> holder = SchedulerLock::holder(SchedulerLock::defaultPath());
    setAttached(holder.value_or(-1));
    const std::shared_ptr<MainQueue> queue = s.queue;
    SchedulerLink::Events events;
    events.connected = [this, queue](const std::unordered_map<Uuid, std::string>& running) {
        queue->post([this, running] {
            std::unordered_set<Uuid> ids;
            for (const auto& [id, name] : running) {
                ids.insert(id);
                state_->attachedRunNames[id] = name;
            }
            setRunningJobIDs(std::move(ids));
        });
    };
    events.runStarted = [this, queue](const Uuid& id, const std::string& name) {
        queue->post([this, id, name] {
            state_->attachedRunNames[id] = name;
            runStarted(id);
        });
    };
    events.runFinished = [this, queue](const Uuid& id, const RunRecord& record) {
        queue->post([this, id, record] {
            // The job's name now, else as it was when its run started.
            std::string name = state_->attachedRunNames[id];
            state_->attachedRunNames.erase(id);
            for (const Job& job : state_->jobs)
                if (job.id == id)
                    name = job.name;
            runFinished(id, name, record);
        });
    };
    events.changed = [relay = s.relay] { relay->refreshSoon(); };
    events.lost = [this, queue] { queue->post([this] { takeOver(); }); };
    s.link = std::make_unique<SchedulerLink>(std::move(events));
}

void AppModel::takeOver() {
    State& s = *state_;
    if (s.shutDown || s.scheduler || !s.core)
        return;
    std::unique_ptr<CoreServices> core;
    try {
        core = std::make_unique<CoreServices>(CoreServices::LockPolicy::required,
                                              [relay = s.relay] { relay->refreshSoon(); });
    } catch (const std::exception&) {
        // Still held (the scheduler is only slow to answer), or the support folder went
        // away: the link keeps trying.
        setAttached(SchedulerLock::holder(SchedulerLock::defaultPath()).value_or(-1));
        return;
    }
    // What the other scheduler was running has ended with it; its records (or the
    // journal's, for runs it could not finish) are in the history now.
    s.attachedRunNames.clear();
    setRunningJobIDs({});
    install(std::move(core));
    s.scheduler->start();
}

void AppModel::shutDown() {
    State& s = *state_;
    if (s.shutDown)
        return;
    s.shutDown = true;
    s.link.reset();
    if (s.core)
        s.core->shutDown();
    if (s.control)
        s.control->stop();
}

// State.

const AppModel::State& AppModel::checked() const {
    MARROWBELL_MAIN_THREAD();
    return *state_;
}

const std::vector<Job>& AppModel::jobs() const {
    return checked().jobs;
}
const std::vector<Endpoint>& AppModel::endpoints() const {
    return checked().endpoints;
}
const AppSettings& AppModel::settings() const {
    return checked().settings;
}
const std::unordered_set<Uuid>& AppModel::runningJobIDs() const {
    return checked().runningJobIDs;
}
const std::map<std::string, HarnessStatus>& AppModel::harnessStatus() const {
    return checked().harnessStatus;
}
const std::vector<HarnessSpec>& AppModel::installedHarnesses() const {
    return checked().installedHarnesses;
}
const std::optional<std::string>& AppModel::startupError() const {
    return checked().startupError;
}
const std::optional<Job>& AppModel::editingJob() const {
    return checked().editingJob;
}

void AppModel::setEditingJob(const std::optional<Job>& job) {
    MARROWBELL_MAIN_THREAD();
    if (state_->editingJob == job)
        return;
    state_->editingJob = job;
    emit editingJobChanged();
}

const std::shared_ptr<JobStore>& AppModel::store() const {
    return checked().store;
}
const std::shared_ptr<RunHistory>& AppModel::history() const {
    return checked().history;
}
const std::shared_ptr<EndpointStore>& AppModel::endpointStore() const {
    return checked().endpointStore;
}
const std::shared_ptr<SettingsStore>& AppModel::settingsStore() const {
    return checked().settingsStore;
}
const std::shared_ptr<SchedulerService>& AppModel::scheduler() const {
    return checked().scheduler;
}
const HarnessRegistry* AppModel::registry() const {
    return checked().registry ? &*state_->registry : nullptr;
}
const ScheduleTimeline& AppModel::timeline() const {
    State& s = *state_;
    if (!checked().timeline)
        s.timeline = ScheduleTimeline::upcoming(s.jobs, s.timelineStart, timelineHours,
                                                timelineMarksPerJob);
    return *s.timeline;
}
LoginItem::Status AppModel::loginItemStatus() const {
    return checked().loginItemStatus;
}
bool AppModel::notificationsAllowed() const {
    return checked().notificationsAllowed;
}

bool AppModel::isAttached() const {
    return checked().attachedProcessID.has_value();
}
std::optional<pid_t> AppModel::attachedProcessID() const {
    return checked().attachedProcessID;
}

std::optional<std::string> AppModel::attachedNote() const {
    const std::optional<pid_t> pid = state_->attachedProcessID;
    if (!pid)
        return std::nullopt;
    if (*pid <= 0)
        return "Jobs are run by the Marrowbell scheduler already running.";
    return "Jobs are run by the Marrowbell scheduler already running (process " +
           std::to_string(*pid) + ").";
}

void AppModel::setAttached(std::optional<pid_t> processID) {
    if (state_->attachedProcessID == processID)
        return;
    state_->attachedProcessID = processID;
    emit attachedChanged();
}

// Derived values.

BarState AppModel::barState() const {
    MARROWBELL_MAIN_THREAD();
    const State& s = *state_;
    if (!s.runningJobIDs.empty())
        return BarState::running;
    if (!s.history || s.jobs.empty())
        return BarState::idle;
    const std::unordered_map<Uuid, RunRecord> last = s.history->lastRuns();
    for (const Job& job : s.jobs)
        if (auto run = last.find(job.id); run != last.end() && !run->second.succeeded())
            return BarState::attention;
    return BarState::idle;
}

std::string AppModel::activeJobsTitle() const {
    MARROWBELL_MAIN_THREAD();
    const State& s = *state_;
    const std::vector<Job> active = JobOrder::active(s.jobs, s.runningJobIDs, s.now());
    return std::string(
        JobOrder::activeTitle(!active.empty() && s.runningJobIDs.count(active.front().id) > 0));
}

std::vector<Job> AppModel::pausedJobs() const {
    MARROWBELL_MAIN_THREAD();
    std::vector<Job> paused;
    for (const Job& job : state_->jobs)
        if (job.isPaused)
            paused.push_back(job);
    return paused;
}

std::optional<PanelEmptyState> AppModel::panelEmptyState() const {
    MARROWBELL_MAIN_THREAD();
    const State& s = *state_;
    std::vector<std::string> installed, known;
    for (const HarnessSpec& spec : s.installedHarnesses)
        installed.push_back(spec.displayName);
    if (s.registry)
        for (const HarnessSpec& spec : s.registry->specs())
            known.push_back(spec.displayName);
    return PanelEmptyState::state(s.jobs.size(), installed, known);
}

std::string AppModel::defaultHarnessID() const {
    MARROWBELL_MAIN_THREAD();
    const State& s = *state_;
    if (s.settings.defaultHarnessID)
        return *s.settings.defaultHarnessID;
    if (s.registry)
        if (std::optional<std::string> preferred = s.registry->preferredHarnessID())
            return *preferred;
    return {};
}

std::optional<SuggestedEndpoint> AppModel::newEndpointTemplate() const {
    MARROWBELL_MAIN_THREAD();
    const State& s = *state_;
    if (!s.registry || s.registry->suggestedEndpoints().empty())
        return std::nullopt;
    return s.registry->suggestedEndpoints().front();
}

bool AppModel::isInstalled(const std::string& harnessID) const {
    MARROWBELL_MAIN_THREAD();
    for (const HarnessSpec& spec : state_->installedHarnesses)
        if (spec.id == harnessID)
            return true;
    return false;
}

// Refresh.

void AppModel::refresh() {
    MARROWBELL_MAIN_THREAD();
    State& s = *state_;
    std::vector<Job> jobs = s.store ? s.store->jobs() : std::vector<Job>();
    if (jobs != s.jobs) {
        s.jobs = std::move(jobs);
        emit jobsChanged();
    }
    std::vector<Endpoint> endpoints =
        s.endpointStore ? s.endpointStore->endpoints() : std::vector<Endpoint>();
    if (endpoints != s.endpoints) {
        s.endpoints = std::move(endpoints);
        emit endpointsChanged();
    }
    AppSettings settings = s.settingsStore ? s.settingsStore->settings() : AppSettings();
    if (settings != s.settings) {
        s.settings = std::move(settings);
        emit settingsChanged();
    }
    // A new present each time: the strip always moves on.
    s.timeline.reset();
    s.timelineStart = s.now();
    emit timelineChanged();
    std::vector<HarnessSpec> installed =
        s.registry ? s.registry->installedSpecs() : std::vector<HarnessSpec>();
    if (installed != s.installedHarnesses) {
        s.installedHarnesses = std::move(installed);
        emit installedHarnessesChanged();
    }
    updateBarState();
}

void AppModel::updateBarState() {
    const BarState state = barState();
    if (state == state_->barState)
        return;
    state_->barState = state;
    emit barStateChanged();
}

void AppModel::setRunningJobIDs(std::unordered_set<Uuid> ids) {
    if (ids == state_->runningJobIDs)
        return;
    state_->runningJobIDs = std::move(ids);
    emit runningJobIDsChanged();
    updateBarState();
}

void AppModel::runStarted(const Uuid& jobID) {
    std::unordered_set<Uuid> ids = state_->runningJobIDs;
    ids.insert(jobID);
    setRunningJobIDs(std::move(ids));
}

void AppModel::runFinished(const Uuid& jobID, const std::string& jobName, const RunRecord& record) {
    std::unordered_set<Uuid> ids = state_->runningJobIDs;
    ids.erase(jobID);
    setRunningJobIDs(std::move(ids));
    announce(jobName, record);
}

// Notification permission.

void AppModel::setNotificationsAllowed(bool allowed) {
    if (allowed == state_->notificationsAllowed)
        return;
    state_->notificationsAllowed = allowed;
    emit notificationsAllowedChanged();
}

void AppModel::refreshNotificationAuthorization() {
    MARROWBELL_MAIN_THREAD();
    NotificationCenter* centre = state_->platform.notifications;
    setNotificationsAllowed(centre &&
                            centre->authorization() != NotificationCenter::Authorization::denied);
}

void AppModel::notificationsPermitted(Answer<bool> answer) {
    MARROWBELL_MAIN_THREAD();
    using Authorization = NotificationCenter::Authorization;
    NotificationCenter* centre = state_->platform.notifications;
    const Authorization status = centre ? centre->authorization() : Authorization::denied;
    if (status == Authorization::notDetermined) {
        QPointer<AppModel> self(this);
        centre->requestAuthorization([self, answer](bool granted) {
            if (!self)
                return;
            self->setNotificationsAllowed(granted);
            if (answer)
                answer(granted);
        });
        return;
    }
    const bool permitted = status != Authorization::denied;
    setNotificationsAllowed(permitted);
    if (answer)
        answer(permitted);
}

void AppModel::requestNotificationPermission() {
    notificationsPermitted({});
}

// Login item.

void AppModel::setLaunchAtLogin(bool enabled) {
    MARROWBELL_MAIN_THREAD();
    LoginItem* item = state_->platform.loginItem;
    if (!item)
        return;
    try {
        item->setEnabled(enabled);
    } catch (const std::exception& error) {
        setStartupError(std::string("Could not change the login item — ") + error.what());
    }
    const LoginItem::Status status = item->status();
    if (status != state_->loginItemStatus) {
        state_->loginItemStatus = status;
        emit loginItemStatusChanged();
    }
}

void AppModel::setStartupError(std::optional<std::string> error) {
    if (error == state_->startupError)
        return;
    state_->startupError = std::move(error);
    emit startupErrorChanged();
}

// Job actions.

void AppModel::save(const Job& job) {
    MARROWBELL_MAIN_THREAD();
    requestNotificationPermission();
    if (state_->store) {
        try {
            state_->store->save(job);
        } catch (const std::exception&) {
            // The refreshed list shows the job as it still is.
        }
    }
    refresh();
    reschedule();
}

void AppModel::deleteJob(const Job& job) {
    MARROWBELL_MAIN_THREAD();
    // The job's records stay in the history, as with `marrowbellctl delete`: the history
    // only grows (its one writer merges into the file, so no record is ever lost) and
    // the cap ages them out. The panel shows no records of a job that is gone.
    if (state_->store) {
        try {
            state_->store->remove(job.id);
        } catch (const std::exception&) {
        }
    }
    refresh();
    reschedule();
}

void AppModel::togglePause(const Job& job) {
    MARROWBELL_MAIN_THREAD();
    Job changed = job;
    changed.setPaused(!job.isPaused, state_->now());
    save(changed);
}

void AppModel::applyBulkPause() {
    MARROWBELL_MAIN_THREAD();
    State& s = *state_;
    const std::vector<Job> changed = changes(bulkPauseAction(s.jobs), s.jobs, s.now());
    if (s.store)
        for (const Job& job : changed) {
            try {
                s.store->save(job);
            } catch (const std::exception&) {
            }
        }
    refresh();
    reschedule();
}

void AppModel::runNow(const Job& job) {
    MARROWBELL_MAIN_THREAD();
    State& s = *state_;
    if (s.scheduler) {
        // The record arrives through the scheduler's callbacks, with a refresh.
        s.scheduler->runNow(job);
        return;
    }
    if (!s.core)
        return;
    inBackground(Priority::userInitiated, [id = job.id, relay = s.relay] {
        SchedulerLink::requestRun(id);
        relay->refreshSoon();
    });
}

void AppModel::cancel(const Job& job) {
    MARROWBELL_MAIN_THREAD();
    State& s = *state_;
    if (s.scheduler) {
        s.scheduler->cancel(job.id);
        return;
    }
    if (s.core)
        inBackground(Priority::userInitiated, [id = job.id] { SchedulerLink::requestStop(id); });
}

void AppModel::updateSettings(const std::function<void(AppSettings&)>& mutation) {
    MARROWBELL_MAIN_THREAD();
    if (state_->settingsStore) {
        try {
            state_->settingsStore->update(mutation);
        } catch (const std::exception&) {
        }
    }
    refresh();
    reschedule();
}

void AppModel::reschedule() {
    if (state_->scheduler)
        state_->scheduler->reschedule();
}

// Announcements.

void AppModel::announce(const Job& job, const RunRecord& record) {
    MARROWBELL_MAIN_THREAD();
    announce(job.name, record);
}

void AppModel::announce(const std::string& jobName, const RunRecord& record) {
    const bool succeeded = record.succeeded();
    if (succeeded && state_->settings.defaults.notifyOnFailureOnly)
        return;
    NotificationCenter::Content content;
    content.title = QString::fromStdString(jobName);
    content.subtitle = QString::fromStdString(record.outcomeSummary());
    content.body = QString::fromStdString(record.notificationDetail(notificationDetailLimit));
    content.critical = !succeeded;
    post(content, QString::fromStdString(record.id.text()));
}

void AppModel::post(const NotificationCenter::Content& content, const QString& identifier) {
    MARROWBELL_MAIN_THREAD();
    QPointer<AppModel> self(this);
    notificationsPermitted([self, content, identifier](bool permitted) {
        if (self && permitted && self->state_->platform.notifications)
            self->state_->platform.notifications->post(identifier, content);
    });
}

// Endpoints.

void AppModel::seedDefaultEndpointsIfEmpty() {
    MARROWBELL_MAIN_THREAD();
    State& s = *state_;
    if (!s.endpoints.empty() || !s.endpointStore || !s.registry)
        return;
    for (const SuggestedEndpoint& suggested : s.registry->suggestedEndpoints()) {
        std::optional<Url> url = Url::parse(suggested.baseURL);
        if (!url)
            continue;
        try {
            s.endpointStore->save(Endpoint{Uuid::random(), suggested.name, *url, suggested.kind});
        } catch (const std::exception&) {
        }
    }
    refresh();
}

// Harness information.

void AppModel::refreshHarnessStatus() {
    MARROWBELL_MAIN_THREAD();
    State& s = *state_;
    if (!s.registry)
        return;
    inBackground(Priority::utility, [this, registry = *s.registry, queue = s.queue] {
        std::map<std::string, HarnessStatus> statuses;
        for (const HarnessSpec& spec : registry.specs()) {
            const std::optional<std::filesystem::path> executable = executableOf(registry, spec);
            HarnessStatus status;
            if (executable)
                status.path = executable->string();
            status.skills = SkillCatalog::skills(skillSourceOf(spec), executable);
            status.models = ModelCatalog::models(spec.models, executable);
            statuses.emplace(spec.id, std::move(status));
        }
        queue->post([this, statuses = std::move(statuses)]() mutable {
            if (statuses == state_->harnessStatus)
                return;
            state_->harnessStatus = std::move(statuses);
            emit harnessStatusChanged();
        });
    });
}

AppModel::Capabilities AppModel::capabilities(const HarnessSpec& spec) const {
    Capabilities capabilities;
    capabilities.skills = spec.skills ? spec.skills->flag : "not supported";
    capabilities.endpoint = endpointCapability(spec.localEndpoint);
    bool anyArguments = false;
    for (const auto& [level, arguments] : spec.permissions)
        anyArguments = anyArguments || !arguments.empty();
    auto readOnly = spec.permissions.find(PermissionLevel::readOnly);
    if (!anyArguments)
        capabilities.limits = "none";
    else if (readOnly != spec.permissions.end() && !readOnly->second.empty())
        capabilities.limits = readOnly->second.front();
    else
        capabilities.limits = "supported";
    return capabilities;
}

// Queries.

template <class Value>
void AppModel::answerLater(QObject* receiver, const std::string& kind, std::function<Value()> work,
                           Answer<Value> answer) {
    State& s = *state_;
    std::optional<std::pair<const QObject*, std::string>> key;
    std::uint64_t number = ++s.queriesBegun;
    if (receiver) {
        key.emplace(receiver, kind);
        s.queries[*key] = number;
    }
    QPointer<QObject> target(receiver);
    const bool targeted = receiver != nullptr;
    inBackground(Priority::userInitiated,
                 [this, work = std::move(work), answer = std::move(answer), target, targeted, key,
                  number, queue = s.queue]() mutable {
                     Value value = work();
                     queue->post([this, answer = std::move(answer), value = std::move(value),
                                  target, targeted, key, number]() mutable {
                         if (key) {
                             auto latest = state_->queries.find(*key);
                             if (latest == state_->queries.end() || latest->second != number)
                                 return; // a later query of the same receiver replaced this one
                             state_->queries.erase(latest);
                         }
                         if ((targeted && !target) || !answer)
                             return; // the receiver is gone
                         answer(std::move(value));
                     });
                 });
}

void AppModel::resolvedCommand(const std::optional<Job>& job, QObject* receiver,
                               Answer<std::string> answer) {
    MARROWBELL_MAIN_THREAD();
    const State& s = *state_;
    std::function<std::string()> work;
    if (!job) {
        work = [] { return std::string("Enter a valid schedule to see the command."); };
    } else if (!s.registry || !s.history) {
        work = [] { return std::string(); };
    } else {
        const std::optional<Endpoint> endpoint =
            s.endpointStore ? s.endpointStore->endpoint(job->endpointID) : std::nullopt;
        std::string name = job->harnessID;
        try {
            name = s.registry->spec(job->harnessID).displayName;
        } catch (const std::exception&) {
        }
        work = [job = *job, endpoint, name, registry = *s.registry, history = s.history] {
            try {
                const JobRunner runner(registry, history, EndpointProbe(probeTimeout),
                                       RunExecutor(), CommandBuilder{}, SecretStore::shared());
                return runner.preview(job, endpoint).displayString();
            } catch (const std::exception&) {
                return "Could not resolve the " + name + " binary.";
            }
        };
    }
    answerLater<std::string>(receiver, "resolvedCommand", std::move(work), std::move(answer));
}

void AppModel::availableModels(const std::string& harnessID, const std::optional<Uuid>& endpointID,
                               QObject* receiver, Answer<std::vector<ModelOption>> answer) {
    MARROWBELL_MAIN_THREAD();
    const State& s = *state_;
    const std::optional<Endpoint> endpoint =
        s.endpointStore && endpointID ? s.endpointStore->endpoint(endpointID) : std::nullopt;
    auto work = [harnessID, endpoint, registry = s.registry] {
        if (endpoint) {
            std::vector<ModelOption> served;
            for (const std::string& name :
                 EndpointProbe(probeTimeout).check(*endpoint, std::nullopt).models()) {
                bool chat = true;
                if (registry)
                    for (const std::string& marker : registry->defaults().nonChatModelMarkers)
                        chat = chat && !containsIgnoringCase(name, marker);
                if (chat)
                    served.push_back(ModelOption{name, std::nullopt});
            }
            if (!served.empty())
                return served;
        }
        if (!registry)
            return std::vector<ModelOption>();
        try {
            const HarnessSpec& spec = registry->spec(harnessID);
            return ModelCatalog::models(spec.models, executableOf(*registry, spec));
        } catch (const std::exception&) {
            return std::vector<ModelOption>();
        }
    };
    answerLater<std::vector<ModelOption>>(receiver, "availableModels", std::move(work),
                                          std::move(answer));
}

void AppModel::availableSkills(const std::string& harnessID, QObject* receiver,
                               Answer<Discovery<Skill>> answer) {
    MARROWBELL_MAIN_THREAD();
    auto work = [harnessID, registry = state_->registry] {
        if (!registry)
            return Discovery<Skill>::unavailable();
        try {
            const HarnessSpec& spec = registry->spec(harnessID);
            return SkillCatalog::discover(skillSourceOf(spec), executableOf(*registry, spec));
        } catch (const std::exception&) {
            return Discovery<Skill>::unavailable();
        }
    };
    answerLater<Discovery<Skill>>(receiver, "availableSkills", std::move(work), std::move(answer));
}

void AppModel::checkEndpoint(const Endpoint& endpoint, QObject* receiver,
                             Answer<EndpointStatus> answer) {
    MARROWBELL_MAIN_THREAD();
    answerLater<EndpointStatus>(
        receiver, "checkEndpoint " + endpoint.id.text(),
        [endpoint] { return EndpointProbe(probeTimeout).check(endpoint, std::nullopt); },
        std::move(answer));
}

bool AppModel::modelsComeFromEndpoint(const std::optional<Uuid>& endpointID) const {
    MARROWBELL_MAIN_THREAD();
    return endpointID && state_->endpointStore &&
           state_->endpointStore->endpoint(endpointID).has_value();
}

EndpointCompatibility AppModel::endpointCompatibility(const std::string& harnessID,
                                                      const Endpoint& endpoint) const {
    MARROWBELL_MAIN_THREAD();
    if (!state_->registry)
        return {};
    try {
        return CommandBuilder::compatibility(state_->registry->spec(harnessID), endpoint,
                                             ProviderCatalog{});
    } catch (const HarnessError&) {
        return {};
    }
}

} // namespace marrowbell::app
