#include "panel/PanelView.h"

#include "job/BulkPause.h"
#include "job/JobOrder.h"
#include "model/AppModel.h"
#include "model/Format.h"
#include "panel/JobListView.h"
#include "panel/NotificationSettings.h"
#include "panel/NotificationsBanner.h"
#include "panel/StatusIcons.h"
#include "panel/Theme.h"
#include "panel/TimelineStrip.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace marrowbell::app {
namespace {

constexpr int panelWidth = 380;
constexpr int margin = 12;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// “name” with typographic quotes.
QString quoted(const std::string& name) {
    return QStringLiteral("\u201C") + qs(name) + QStringLiteral("\u201D");
}

} // namespace

PanelView::PanelView(AppModel& model, Clock clock, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , clock_(std::move(clock)) {
    setObjectName(QStringLiteral("panel"));
    setWindowTitle(QStringLiteral("Marrowbell"));
    setAccessibleName(QStringLiteral("Marrowbell"));
    build();
    applyPalette();
    // A minute is the finest step of the relative times; the timer runs only while shown.
    minute_.setInterval(60 * 1000);
    minute_.setTimerType(Qt::VeryCoarseTimer);
    connect(&minute_, &QTimer::timeout, this, &PanelView::reload);
    connectModel();
}

PanelView::~PanelView() = default;

void PanelView::build() {
    setFixedWidth(panelWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, margin, 0, 0);
    layout->setSpacing(8);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(margin, 0, margin, 0);
    header->setSpacing(2);
    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("counts"));
    counts_->setFont(Theme::font(13, QFont::DemiBold));
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setFont(Theme::font(11));
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    header->addWidget(counts_);
    header->addWidget(problem_);
    layout->addLayout(header);

    banner_ = new NotificationsBanner(this);
    banner_->setObjectName(QStringLiteral("notificationsBanner"));
    banner_->setText(
        QStringLiteral("Notifications are off, so finished runs cannot report. Turn them on…"));
    banner_->setAccessibleName(banner_->text());
    connect(banner_, &NotificationsBanner::clicked, this, [] {
        if (auto command = notificationSettingsCommand())
            QProcess::startDetached(command->first(), command->mid(1));
    });
    auto* bannerRow = new QHBoxLayout;
    bannerRow->setContentsMargins(margin, 0, margin, 0);
    bannerRow->addWidget(banner_);
    layout->addLayout(bannerRow);

    empty_ = new QLabel(this);
    empty_->setObjectName(QStringLiteral("emptyState"));
    empty_->setWordWrap(true);
    empty_->setFont(Theme::font(12));
    empty_->setContentsMargins(margin, 16, margin, 16);
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setMinimumHeight(72);
    layout->addWidget(empty_);

    strip_ = new TimelineStrip(this);
    layout->addWidget(strip_);
    list_ = new JobListView(this);
    layout->addWidget(list_);
    connect(list_, &JobListView::editRequested, this,
            [this](const Job& job) { emit editRequested(job); });
    connect(list_, &JobListView::menuRequested, this, &PanelView::showMenu);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(margin, 0, margin, 0);
    footer->setSpacing(6);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("summary"));
    summary_->setFont(Theme::font(11));
    bulk_ = new QPushButton(this);
    bulk_->setObjectName(QStringLiteral("bulkPause"));
    connect(bulk_, &QPushButton::clicked, &model_, &AppModel::applyBulkPause);
    newJob_ = new QPushButton(QStringLiteral("New job"), this);
    newJob_->setObjectName(QStringLiteral("newJob"));
    connect(newJob_, &QPushButton::clicked, this, [this] { emit editRequested(std::nullopt); });
    settings_ = new QToolButton(this);
    settings_->setObjectName(QStringLiteral("settings"));
    settings_->setToolTip(QStringLiteral("Settings"));
    settings_->setAccessibleName(QStringLiteral("Settings"));
    settings_->setAutoRaise(true);
    settings_->setFocusPolicy(Qt::StrongFocus);
    connect(settings_, &QToolButton::clicked, this, &PanelView::settingsRequested);
    footer->addWidget(summary_, 1);
    footer->addWidget(bulk_);
    footer->addWidget(newJob_);
    footer->addWidget(settings_);
    layout->addLayout(footer);

    quit_ = new QPushButton(QStringLiteral("Quit Marrowbell"), this);
    quit_->setObjectName(QStringLiteral("quitBar"));
    quit_->setFlat(true);
    quit_->setCursor(Qt::PointingHandCursor);
    quit_->setFocusPolicy(Qt::StrongFocus);
    quit_->setMinimumHeight(32);
    connect(quit_, &QPushButton::clicked, this, &PanelView::quitRequested);
    layout->addWidget(quit_);

    setTabOrder(banner_, list_);
    setTabOrder(list_, bulk_);
    setTabOrder(bulk_, newJob_);
    setTabOrder(newJob_, settings_);
    setTabOrder(settings_, quit_);
}

void PanelView::connectModel() {
    for (auto signal :
         {&AppModel::jobsChanged, &AppModel::runningJobIDsChanged, &AppModel::startupErrorChanged,
          &AppModel::historyChanged, &AppModel::timelineChanged,
          &AppModel::notificationsAllowedChanged, &AppModel::attachedChanged,
          &AppModel::installedHarnessesChanged, &AppModel::registryChanged})
        connect(&model_, signal, this, &PanelView::modelChanged);
}

void PanelView::modelChanged() {
    // Changes while hidden are read at the next showing; several at once make one reload.
    bool wasStale = stale_;
    stale_ = true;
    if (isVisible() && !wasStale)
        QTimer::singleShot(0, this, [this] {
            if (stale_)
                reload();
        });
}

void PanelView::showEvent(QShowEvent* event) {
    if (stale_)
        reload();
    minute_.start();
    QWidget::showEvent(event);
}

void PanelView::hideEvent(QHideEvent* event) {
    minute_.stop();
    QWidget::hideEvent(event);
}

void PanelView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        applyPalette();
    QWidget::changeEvent(event);
}

// The colours that follow the appearance: set again when the palette turns dark or light.
void PanelView::applyPalette() {
    const QPalette& palette = this->palette();
    banner_->setIcon(StatusIcons::symbol(QStringLiteral("notifications-off"),
                                         QStringLiteral("notifications-disabled-symbolic"),
                                         palette));
    settings_->setIcon(StatusIcons::symbol(QStringLiteral("settings"),
                                           QStringLiteral("emblem-system-symbolic"), palette));
    QPalette red = problem_->palette();
    red.setColor(QPalette::WindowText, Theme::failure(palette));
    problem_->setPalette(red);
    QPalette quiet = summary_->palette();
    quiet.setColor(QPalette::WindowText, Theme::tone(palette, Theme::Tone::secondary));
    summary_->setPalette(quiet);
    empty_->setPalette(quiet);
    QColor hover = palette.color(QPalette::WindowText);
    hover.setAlphaF(0.08f);
    quit_->setStyleSheet(
        QStringLiteral("QPushButton#quitBar { border: none; border-top: 1px solid %1; "
                       "text-align: left; padding-left: %2px; }"
                       "QPushButton#quitBar:hover, QPushButton#quitBar:focus { background: %3; }")
            .arg(Theme::tone(palette, Theme::Tone::faintest).name(QColor::HexArgb))
            .arg(margin)
            .arg(hover.name(QColor::HexArgb)));
}

void PanelView::reload() {
    stale_ = false;
    const Instant now = clock_();
    const std::vector<Job> jobs = model_.jobs();
    const auto& running = model_.runningJobIDs();
    const auto history = model_.history();
    const std::vector<Job> active = JobOrder::active(jobs, running, now);
    const std::vector<Job> paused = model_.pausedJobs();

    counts_->setText(
        QStringLiteral("%1 scheduled · %2 paused").arg(active.size()).arg(paused.size()));
    // A failed start-up, else the note that another process runs the jobs.
    QString problem = model_.startupError()   ? qs(*model_.startupError())
                      : model_.attachedNote() ? qs(*model_.attachedNote())
                                              : QString();
    problem_->setText(problem);
    problem_->setVisible(!problem.isEmpty());

    banner_->setVisible(!model_.notificationsAllowed());
    // Without a known way to the desktop's settings the banner only informs.
    bool canOpen = notificationSettingsCommand().has_value();
    banner_->setCursor(canOpen ? Qt::PointingHandCursor : Qt::ArrowCursor);
    banner_->setFocusPolicy(canOpen ? Qt::StrongFocus : Qt::NoFocus);

    const auto emptyState = model_.panelEmptyState();
    empty_->setVisible(emptyState.has_value());
    strip_->setVisible(!emptyState);
    list_->setVisible(!emptyState);
    if (emptyState) {
        empty_->setText(qs(emptyState->message()));
        list_->setSections({}, {}, {});
    } else {
        strip_->setTimeline(currentTimeline(jobs, now));
        // Every job's last run in one pass over the history, not one pass per job.
        const std::unordered_map<Uuid, RunRecord> lastRuns =
            history ? history->lastRuns() : std::unordered_map<Uuid, RunRecord>();
        auto rows = [&](const std::vector<Job>& list) {
            std::vector<JobRow> made;
            made.reserve(list.size());
            for (const Job& job : list) {
                auto last = lastRuns.find(job.id);
                made.push_back(JobRow::make(job, running.contains(job.id),
                                            last == lastRuns.end()
                                                ? std::nullopt
                                                : std::optional<RunRecord>(last->second),
                                            now));
            }
            return made;
        };
        list_->setSections(qs(model_.activeJobsTitle()), rows(active), rows(paused));
    }

    std::optional<Instant> next;
    for (const Job& job : active)
        if (auto date = job.nextRun(now); date && (!next || *date < *next))
            next = date;
    summary_->setText(next           ? QStringLiteral("next ") + qs(Format::relative(next, now))
                      : jobs.empty() ? QString()
                                     : QStringLiteral("all paused"));

    BulkPause action = bulkPauseAction(jobs);
    bulk_->setText(qs(std::string(title(action))));
    bulk_->setEnabled(isAvailable(action));
    // The panel is as tall as its content at its fixed width (the banner wraps).
    layout()->activate();
    setFixedHeight(layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(panelWidth)
                                                 : layout()->totalSizeHint().height());
}

// The model's timeline is as old as its last refresh; one older than a minute would
// show stale ticks, so the strip then lays out the runs from the present itself.
ScheduleTimeline PanelView::currentTimeline(const std::vector<Job>& jobs, Instant now) const {
    const ScheduleTimeline& timeline = model_.timeline();
    if (std::abs(now - timeline.start) < 60)
        return timeline;
    return ScheduleTimeline::upcoming(jobs, now, 24, 48);
}

std::unique_ptr<QMenu> PanelView::actionMenu(const Job& job) {
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("jobMenu"));
    if (model_.runningJobIDs().contains(job.id))
        connect(menu->addAction(QStringLiteral("Stop run")), &QAction::triggered, this,
                [this, job] { model_.cancel(job); });
    else
        connect(menu->addAction(QStringLiteral("Run now")), &QAction::triggered, this,
                [this, job] { model_.runNow(job); });
    connect(menu->addAction(job.isPaused ? QStringLiteral("Resume schedule")
                                         : QStringLiteral("Pause schedule")),
            &QAction::triggered, this, [this, job] { model_.togglePause(job); });
    connect(menu->addAction(QStringLiteral("Edit…")), &QAction::triggered, this,
            [this, job] { emit editRequested(job); });
    menu->addSeparator();
    QMenu* remove = menu->addMenu(QStringLiteral("Delete"));
    connect(remove->addAction(QStringLiteral("Delete %1 and its history").arg(quoted(job.name))),
            &QAction::triggered, this, [this, job] { model_.deleteJob(job); });
    return menu;
}

void PanelView::showMenu(const Job& job, const QPoint& at) {
    auto menu = actionMenu(job);
    menu->exec(at);
}

} // namespace marrowbell::app
