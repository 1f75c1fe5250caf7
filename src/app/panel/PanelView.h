#pragma once

// Qt first: moc cannot read <compare> before Qt's headers.
#include <QTimer>
#include <QWidget>

#include "base/Instant.h"
#include "job/Job.h"
#include "job/ScheduleTimeline.h"

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

namespace marrowbell::app {

class AppModel;
class JobListView;
class NotificationsBanner;
class TimelineStrip;

// The panel: a header with the job counts (and the start-up problem in red), a banner
// while notifications are off, either the empty state or the next-24-hours strip and
// the job list, a footer with the next run, the bulk pause button, "New job" and
// settings, and the quit bar. It keeps no state of its own: it shows the model and
// forwards every action to it. While hidden it does no work at all; while shown, its
// relative times are brought up to date once a minute.
class PanelView : public QWidget {
    Q_OBJECT
public:
    using Clock = std::function<Instant()>;

    explicit PanelView(AppModel& model, Clock clock = &Instant::now, QWidget* parent = nullptr);
    ~PanelView() override;

    // The action menu of a job's row (also its context menu), its actions bound to
    // the model.
    std::unique_ptr<QMenu> actionMenu(const Job& job);

    // Re-reads the model now (it does so by itself when the model changes while shown).
    void reload();
    // Whether the relative times are being kept up to date: only while shown.
    bool isRefreshing() const { return minute_.isActive(); }

signals:
    // Open the job editor, for a new job (none) or the given one.
    void editRequested(const std::optional<marrowbell::Job>& job);
    void settingsRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build();
    void connectModel();
    void applyPalette();
    void modelChanged();
    ScheduleTimeline currentTimeline(const std::vector<Job>& jobs, Instant now) const;
    void showMenu(const Job& job, const QPoint& at);

    AppModel& model_;
    Clock clock_;
    bool stale_ = true;
    QTimer minute_;

    QLabel* counts_;
    QLabel* problem_;
    NotificationsBanner* banner_;
    QLabel* empty_;
    TimelineStrip* strip_;
    JobListView* list_;
    QLabel* summary_;
    QPushButton* bulk_;
    QPushButton* newJob_;
    QToolButton* settings_;
    QPushButton* quit_;
};

} // namespace marrowbell::app
