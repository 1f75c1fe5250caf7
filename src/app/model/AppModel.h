#pragma once

#include "model/AppPlatform.h"
#include "model/BarState.h"
#include "model/HarnessStatus.h"

#include "base/Instant.h"
#include "base/Uuid.h"
#include "endpoint/Endpoint.h"
#include "endpoint/EndpointStatus.h"
#include "harness/Discovery.h"
#include "harness/EndpointCompatibility.h"
#include "harness/HarnessManifest.h"
#include "harness/HarnessRegistry.h"
#include "harness/HarnessSpec.h"
#include "harness/ModelOption.h"
#include "harness/SkillCatalog.h"
#include "job/Job.h"
#include "job/JobStore.h"
#include "job/PanelEmptyState.h"
#include "job/ScheduleTimeline.h"
#include "run/RunHistory.h"
#include "run/RunRecord.h"
#include "scheduler/SchedulerService.h"
#include "settings/AppSettings.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unordered_set>
#include <vector>

namespace marrowbell {
class CoreServices;
}

namespace marrowbell::app {

// The one object the windows read and act through, for the life of the application.
//
// It assembles the core's services at construction and keeps copies of what they hold
// as state: each field below has a read accessor and a change signal, emitted only when
// the value differs. The stores follow their files, so a job added from a terminal
// reaches `jobs` within a second. Everything here belongs to the main thread: call it
// only there (debug builds assert it); answers of slow queries come back there.
//
// One scheduler per user: when another process (the daemon) already runs the jobs, the
// model attaches to it — the jobs, endpoints, settings and history still load and
// follow the disk, runs are started and stopped through that scheduler, and
// `attachedNote` says so. When that process ends, the model takes over within a few
// seconds.
class AppModel : public QObject {
    Q_OBJECT

public:
    // The three lines the settings window shows about a harness.
    struct Capabilities {
        std::string skills;   // the skill flag, or "not supported"
        std::string endpoint; // how a run is pointed at an endpoint, or "not per run"
        std::string limits;   // the read-only argument, "supported" or "none"
        friend bool operator==(const Capabilities&, const Capabilities&) = default;
    };

    // An answer delivered on the main thread.
    template <class Value> using Answer = std::function<void(Value)>;

    // Starts up: loads the manifest, creates the stores and the scheduler, refreshes,
    // and starts scheduling (or attaches to the scheduler already running). The first
    // failure leaves `startupError` set and nothing published or running.
    explicit AppModel(AppPlatform platform = {}, QObject* parent = nullptr);
    // Stops scheduling, cancels the runs in flight (recorded as cancelled) and writes
    // the history, as on quit.
    ~AppModel() override;
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // State.
    const std::vector<Job>& jobs() const;           // earliest `createdAt` first
    const std::vector<Endpoint>& endpoints() const; // in the store's order
    const AppSettings& settings() const;
    const std::unordered_set<Uuid>& runningJobIDs() const;
    // Filled by `refreshHarnessStatus` only; keyed by harness id.
    const std::map<std::string, HarnessStatus>& harnessStatus() const;
    const std::vector<HarnessSpec>& installedHarnesses() const;
    // Why start-up failed, or that a login-item change failed.
    const std::optional<std::string>& startupError() const;
    const std::optional<Job>& editingJob() const;
    void setEditingJob(const std::optional<Job>& job);
    // The core's services; null when start-up failed. `scheduler` is null also while
    // attached to another process's scheduler.
    const std::shared_ptr<JobStore>& store() const;
    const std::shared_ptr<RunHistory>& history() const;
    const std::shared_ptr<EndpointStore>& endpointStore() const;
    const std::shared_ptr<SettingsStore>& settingsStore() const;
    const std::shared_ptr<SchedulerService>& scheduler() const;
    const HarnessRegistry* registry() const;
    // The runs of the next 24 hours, at most 48 per job; recomputed by `refresh`.
    const ScheduleTimeline& timeline() const;
    LoginItem::Status loginItemStatus() const;
    bool notificationsAllowed() const;

    // Attached mode: the process id of the scheduler that runs the jobs while this
    // model only shows them, and the header line saying so ("Jobs are run by the
    // Marrowbell scheduler already running (process {pid}).").
    bool isAttached() const;
    std::optional<pid_t> attachedProcessID() const;
    std::optional<std::string> attachedNote() const;

    // Derived values, computed on each read.
    BarState barState() const;
    std::string activeJobsTitle() const; // "Running" or "Next up"
    std::vector<Job> pausedJobs() const;
    std::optional<PanelEmptyState> panelEmptyState() const;
    std::string defaultHarnessID() const;
    std::optional<SuggestedEndpoint> newEndpointTemplate() const;
    bool isInstalled(const std::string& harnessID) const;

    // Re-reads jobs, endpoints and settings and recomputes the timeline and the
    // installed harnesses.
    void refresh();

    // Notification permission.
    void refreshNotificationAuthorization();
    // Whether announcements may be shown, asking the user where the platform asks;
    // stored into `notificationsAllowed`.
    void notificationsPermitted(Answer<bool> answer = {});
    void requestNotificationPermission();

    // Login item. A failure sets `startupError` to "Could not change the login item —
    // {message}".
    void setLaunchAtLogin(bool enabled);

    // Job actions; store failures are dropped (the refreshed list shows what holds).
    void save(const Job& job);
    // `delete` in words: removes the job's file and forgets the job.
    void deleteJob(const Job& job);
    // Pauses a running job or resumes a paused one (resuming stamps `resumedAt`).
    void togglePause(const Job& job);
    // "Pause all" / "Resume all": whatever the bulk action for `jobs` is.
    void applyBulkPause();
    void runNow(const Job& job);
    // Stops the job's runs in flight (recorded as cancelled).
    void cancel(const Job& job);
    void updateSettings(const std::function<void(AppSettings&)>& mutation);

    // Announcements: a finished run becomes a notification unless it succeeded and the
    // settings ask to hear only of failures.
    void announce(const Job& job, const RunRecord& record);
    void post(const NotificationCenter::Content& content, const QString& identifier);

    // Adds the manifest's suggested endpoints when there is none at all.
    void seedDefaultEndpointsIfEmpty();

    // Harness information for the settings window.
    void refreshHarnessStatus();
    Capabilities capabilities(const HarnessSpec& spec) const;

    // Queries for the editor and the settings window. Each answer goes to `receiver`'s
    // `answer` on the main thread, never after `receiver` is destroyed; a later query of
    // the same kind from the same receiver (for a check: of the same endpoint) replaces
    // an earlier one still under way, whose answer is then dropped.
    void resolvedCommand(const std::optional<Job>& job, QObject* receiver,
                         Answer<std::string> answer);
    void availableModels(const std::string& harnessID, const std::optional<Uuid>& endpointID,
                         QObject* receiver, Answer<std::vector<ModelOption>> answer);
    void availableSkills(const std::string& harnessID, QObject* receiver,
                         Answer<Discovery<Skill>> answer);
    // A 5-second probe of the endpoint, sending no key.
    void checkEndpoint(const Endpoint& endpoint, QObject* receiver, Answer<EndpointStatus> answer);
    bool modelsComeFromEndpoint(const std::optional<Uuid>& endpointID) const;
    EndpointCompatibility endpointCompatibility(const std::string& harnessID,
                                                const Endpoint& endpoint) const;

signals:
    void jobsChanged();
    void endpointsChanged();
    void settingsChanged();
    void runningJobIDsChanged();
    void harnessStatusChanged();
    void installedHarnessesChanged();
    void startupErrorChanged();
    void editingJobChanged();
    void storeChanged();
    void historyChanged(); // the history was replaced, or records were added to it
    void endpointStoreChanged();
    void settingsStoreChanged();
    void schedulerChanged();
    void registryChanged();
    void timelineChanged();
    void loginItemStatusChanged();
    void notificationsAllowedChanged();
    void attachedChanged();
    void barStateChanged();
    // The user chose "Show" on a notification: the panel should open.
    void panelRequested();

private:
    struct State;

    // Publishes the services of `core` and starts scheduling, or attaches to the
    // scheduler that runs elsewhere.
    void install(std::unique_ptr<CoreServices> core);
    void startScheduling();
    void attach();
    // The other scheduler is gone (or unreachable): take the lock if it is free.
    void takeOver();
    // Stops scheduling: runs in flight cancelled and recorded, the history written.
    void shutDown();
    void reschedule();

    void setAttached(std::optional<pid_t> processID);
    void setRunningJobIDs(std::unordered_set<Uuid> ids);
    void setNotificationsAllowed(bool allowed);
    void setStartupError(std::optional<std::string> error);
    void updateBarState();
    void runStarted(const Uuid& jobID);
    void runFinished(const Uuid& jobID, const std::string& jobName, const RunRecord& record);
    void announce(const std::string& jobName, const RunRecord& record);

    // Runs `work` in the background and hands its value to `answer` on the main thread,
    // unless `receiver` is gone or asked again for the same `kind` meanwhile.
    template <class Value>
    void answerLater(QObject* receiver, const std::string& kind, std::function<Value()> work,
                     Answer<Value> answer);

    std::unique_ptr<State> state_;
};

} // namespace marrowbell::app
