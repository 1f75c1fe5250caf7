// The panel on a real model over real files: what it shows and what its controls do, and
// the windows it opens.
#include "AppWindows.h"
#include "model/ModelTestSupport.h"
#include "panel/JobListView.h"
#include "panel/NotificationSettings.h"
#include "panel/PanelView.h"

#include "job/JobStore.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using test::ModelHome;

const Instant monday = Instant::fromUnix(1796644800); // Mon 7 Dec 2026 12:00 UTC

// A home with the stand-in harness, a model and its panel, all reading one fixed clock.
class PanelTest : public testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        home.harness("exit 0\n");
    }

    Job job(const std::string& name, const std::string& cron, bool paused = false) {
        // Made one second apart: the paused section lists jobs by creation.
        Job made = home.job(name, monday - 86400 + double(made_++), cron);
        made.isPaused = paused;
        return made;
    }

    PanelView& open(NotificationCenter::Authorization notifications =
                        NotificationCenter::Authorization::authorized) {
        home.notifications.status = notifications;
        AppPlatform platform = home.platform();
        platform.clock = [] { return monday; };
        model = std::make_unique<AppModel>(platform);
        panel = std::make_unique<PanelView>(*model, [] { return monday; });
        panel->show();
        return *panel;
    }

    std::vector<std::string> listed() {
        auto& rows = list().rows();
        std::vector<std::string> shown;
        for (int i = 0; i < rows.rowCount(); ++i) {
            QModelIndex index = rows.index(i);
            shown.push_back((rows.jobRow(index) ? "  " : "") +
                            rows.data(index, Qt::DisplayRole).toString().toStdString());
        }
        return shown;
    }

    JobListView& list() { return *panel->findChild<JobListView*>(); }
    std::string text(const char* label) {
        return panel->findChild<QLabel*>(QString::fromLatin1(label))->text().toStdString();
    }
    QAbstractButton& banner() { return *panel->findChild<QAbstractButton*>("notificationsBanner"); }
    QPushButton& button(const char* name) {
        return *panel->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    std::vector<std::string> menuItems(const Job& of) {
        std::vector<std::string> items;
        auto menu = panel->actionMenu(of);
        for (QAction* action : menu->actions())
            items.push_back(action->isSeparator() ? "—" : action->text().toStdString());
        return items;
    }
    QAction* menuAction(QMenu& menu, const QString& text) {
        for (QAction* action : menu.actions()) {
            if (action->text() == text)
                return action;
            if (action->menu())
                if (QAction* inner = menuAction(*action->menu(), text))
                    return inner;
        }
        return nullptr;
    }
    void trigger(const Job& of, const QString& item) {
        auto menu = panel->actionMenu(of);
        QAction* action = menuAction(*menu, item);
        ASSERT_TRUE(action) << item.toStdString();
        action->trigger();
    }
    std::optional<Job> stored(const Job& of) {
        for (const Job& each : JobStore(home.support() / "Jobs").jobs())
            if (each.id == of.id)
                return each;
        return std::nullopt;
    }

    marrowbell::test::ScopedEnv zone{"TZ", "UTC"};
    ModelHome home;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<PanelView> panel;
    int made_ = 0;
};

TEST_F(PanelTest, CountsSectionsOrderAndNextRun) {
    home.save(job("Afternoon sweep", "5 14 * * *"));
    home.save(job("Lunch check", "30 12 * * *"));
    home.save(job("Weekly report", "0 9 * * 1", true));
    home.save(job("archive", "0 0 1 * *", true));
    open();

    EXPECT_EQ(text("counts"), "2 scheduled · 2 paused");
    EXPECT_EQ(listed(), (std::vector<std::string>{"Next up", "  Lunch check", "  Afternoon sweep",
                                                  "Paused", "  Weekly report", "  archive"}));
    // Headings cannot take the keyboard's focus or a click.
    EXPECT_EQ(list().rows().flags(list().rows().index(0)), Qt::NoItemFlags);
    EXPECT_TRUE(list().rows().flags(list().rows().index(1)) & Qt::ItemIsEnabled);
    EXPECT_EQ(text("summary"), "next in 30m");
    // Its height follows the rows and the sections shown, up to a cap.
    EXPECT_EQ(list().height(), 46 * 4 + 31 * 2 + 6);
    EXPECT_EQ(JobListModel::listHeight(10, 2), 340);
    EXPECT_FALSE(panel->findChild<QLabel*>("emptyState")->isVisible());
    test::settle();
    EXPECT_FALSE(banner().isVisible()); // notifications are allowed
}

// Each click changes every job once and asks nothing, though notifications are undecided.
TEST_F(PanelTest, BulkButtonPausesEveryJobInItsFileThenOffersResumeAll) {
    Job a = job("A", "0 9 * * *"), b = job("B", "0 10 * * *", true);
    home.save(a);
    home.save(b);
    open(NotificationCenter::Authorization::notDetermined);
    QSignalSpy jobs(model.get(), &AppModel::jobsChanged);
    QTest::mouseClick(&button("bulkPause"), Qt::LeftButton);
    EXPECT_EQ(jobs.count(), 1);
    EXPECT_TRUE(stored(a)->isPaused && stored(b)->isPaused);
    EXPECT_TRUE(test::eventually([&] { return button("bulkPause").text() == "Resume all"; }));
    EXPECT_TRUE(button("bulkPause").isEnabled());
    EXPECT_EQ(text("summary"), "all paused");
    EXPECT_EQ(listed(), (std::vector<std::string>{"Paused", "  A", "  B"}));
    EXPECT_EQ(list().height(), 46 * 2 + 31 + 6); // the empty section is left out

    QTest::mouseClick(&button("bulkPause"), Qt::LeftButton);
    for (const Job& each : {a, b})
        EXPECT_TRUE(!stored(each)->isPaused && stored(each)->resumedAt == monday);
    EXPECT_EQ(home.notifications.requests, 0);
}

TEST_F(PanelTest, NoJobsShowsOnlyTheEmptyStateAndADisabledBulkButton) {
    open();
    ASSERT_TRUE(model->panelEmptyState());
    auto* empty = panel->findChild<QLabel*>("emptyState");
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->text().toStdString(), model->panelEmptyState()->message());
    EXPECT_FALSE(list().isVisible());
    EXPECT_EQ(text("summary"), "");
    EXPECT_EQ(button("bulkPause").text().toStdString(), "Pause all");
    EXPECT_FALSE(button("bulkPause").isEnabled());
    // Relative times are kept up only while the panel is shown.
    EXPECT_TRUE(panel->isRefreshing());
    panel->hide();
    EXPECT_FALSE(panel->isRefreshing());
}

// The job's menu offers what its state allows, and each item changes the files; the
// keyboard reaches the row's edit and menu.
TEST_F(PanelTest, PauseResumeEditAndDeleteFromTheMenu) {
    Job nightly = job("Nightly “big” review", "0 3 * * *");
    home.save(nightly);
    open();
    EXPECT_EQ(menuItems(nightly),
              (std::vector<std::string>{"Run now", "Pause schedule", "Edit…", "—", "Delete"}));
    trigger(nightly, "Pause schedule");
    ASSERT_TRUE(stored(nightly)->isPaused);
    EXPECT_EQ(menuItems(*stored(nightly)),
              (std::vector<std::string>{"Run now", "Resume schedule", "Edit…", "—", "Delete"}));
    trigger(*stored(nightly), "Resume schedule");
    EXPECT_FALSE(stored(nightly)->isPaused);
    EXPECT_EQ(stored(nightly)->resumedAt, monday);
    trigger(*stored(nightly), "Pause schedule"); // keeps the stamp
    EXPECT_EQ(stored(nightly)->resumedAt, monday);
    // Saving asks for notification permission only while undecided.
    EXPECT_EQ(home.notifications.requests, 0);

    // Edit from the menu, or with Enter on the row; the menu key opens the row's menu.
    std::vector<Uuid> edits, menus;
    QObject::connect(panel.get(), &PanelView::editRequested,
                     [&](const std::optional<Job>& job) { edits.push_back(job->id); });
    trigger(nightly, "Edit…");
    JobListView& view = list();
    view.setFocus();
    view.setCurrentIndex(view.rows().index(1));
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(edits, (std::vector<Uuid>{nightly.id, nightly.id}));
    QObject::connect(&view, &JobListView::menuRequested,
                     [&](const Job& job, const QPoint&) { menus.push_back(job.id); });
    QContextMenuEvent keyboard(QContextMenuEvent::Keyboard, QPoint(0, 0),
                               view.mapToGlobal(QPoint(0, 0)));
    // The menu opens modally; close it as soon as it shows.
    QTimer::singleShot(0, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    QApplication::sendEvent(view.viewport(), &keyboard);
    EXPECT_EQ(menus, std::vector<Uuid>{nightly.id});

    trigger(nightly, "Delete “Nightly “big” review” and its history");
    EXPECT_FALSE(stored(nightly));
    EXPECT_TRUE(
        test::eventually([&] { return panel->findChild<QLabel*>("emptyState")->isVisible(); }));
}

TEST_F(PanelTest, RunNowRunsTheHarnessAndStopRunCancelsIt) {
    home.harness("echo started > \"$PWD/started\"\nsleep 30\n");
    Job nightly = job("Nightly", "0 3 * * *");
    home.save(nightly);
    open();

    trigger(nightly, "Run now");
    ASSERT_TRUE(test::eventually([&] { return std::filesystem::exists(home.work() / "started"); }));
    ASSERT_TRUE(test::eventually([&] { return list().rows().anyRunning(); }));
    EXPECT_EQ(list().rows().jobRow(list().rows().index(1))->next.toStdString(), "running");
    EXPECT_EQ(listed().front(), "Running");
    EXPECT_EQ(model->barState(), BarState::running);
    EXPECT_EQ(menuItems(nightly),
              (std::vector<std::string>{"Stop run", "Pause schedule", "Edit…", "—", "Delete"}));

    trigger(nightly, "Stop run");
    ASSERT_TRUE(test::eventually([&] { return !home.runs().empty(); }));
    EXPECT_TRUE(home.runs().front().wasCancelled);
    EXPECT_TRUE(test::eventually([&] {
        const JobRow* row = list().rows().jobRow(list().rows().index(1));
        return row && row->dot == StatusDot::State::cancelled;
    }));
    // The scheduler's callbacks reached the model on its thread: the run is announced, and
    // the announcement opens the panel.
    ASSERT_TRUE(test::eventually([&] { return !home.notifications.posted.empty(); }));
    EXPECT_TRUE(model->runningJobIDs().empty());
    EXPECT_EQ(model->barState(), BarState::attention);
    const auto& posted = home.notifications.posted.front();
    EXPECT_EQ(posted.content.title, "Nightly");
    EXPECT_TRUE(posted.content.critical);
    EXPECT_EQ(posted.identifier.toStdString(), home.runs().front().id.text());
    QSignalSpy activated(model.get(), &AppModel::panelRequested);
    emit home.notifications.activated(posted.identifier);
    EXPECT_EQ(activated.count(), 1);
}

TEST_F(PanelTest, StartupErrorShowsInRedBeneathTheCounts) {
    std::filesystem::remove_all(home.root / "data");
    marrowbell::test::writeFile(home.root / "data", "not a folder");
    open();
    ASSERT_TRUE(model->startupError());
    auto* problem = panel->findChild<QLabel*>("problem");
    EXPECT_TRUE(problem->isVisible());
    EXPECT_EQ(problem->text().toStdString(), *model->startupError());
    EXPECT_EQ(problem->palette().color(QPalette::WindowText).red() > 150, true);
    EXPECT_EQ(text("counts"), "0 scheduled · 0 paused");
}

TEST_F(PanelTest, EveryControlIsNamedAndReachedWithTab) {
    home.save(job("Nightly", "0 3 * * *"));
    open(NotificationCenter::Authorization::denied);
    const std::string refused =
        "Notifications are off, so finished runs cannot report. Turn them on…";
    EXPECT_TRUE(test::eventually([&] { return banner().isVisible(); }));
    EXPECT_EQ(banner().text().toStdString(), refused);
    QApplication::setActiveWindow(panel.get());
    std::vector<std::string> names; // of the controls Tab reaches, round to the first
    QWidget* const start = QApplication::focusWidget();
    for (QWidget* now = start; names.size() < 12;) {
        if (now)
            names.push_back((now->accessibleName().isEmpty() ? now->property("text").toString()
                                                             : now->accessibleName())
                                .toStdString());
        QTest::keyClick(now ? now : panel.get(), Qt::Key_Tab);
        if (!(now = QApplication::focusWidget()) || now == start)
            break;
    }
    std::vector<std::string> expected{"Jobs", "Pause all", "New job", "Settings",
                                      "Quit Marrowbell"};
    // The banner is a control only where it can open the desktop's settings.
    if (notificationSettingsCommand())
        expected.push_back(refused);
    for (const auto& control : expected)
        EXPECT_NE(std::find(names.begin(), names.end(), control), names.end())
            << control << " not among " << testing::PrintToString(names);
}

std::vector<QWidget*> shown(const QString& objectName) {
    std::vector<QWidget*> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->objectName() == objectName)
            windows.push_back(window);
    return windows;
}

TEST(AppWindows, OneEditorPerJobAndOneSettingsWindowRaisedWhenAskedAgain) {
    ModelHome home;
    home.harness("exit 0\n");
    Job nightly = home.job("Nightly review", monday, "0 2 * * *");
    auto model = home.model();
    auto name = [](QWidget* editor) { return editor->findChild<QLineEdit*>("name")->text(); };
    {
        AppWindows windows(*model);
        for (int twice = 0; twice < 2; ++twice) {
            windows.showEditor(std::nullopt);
            windows.showEditor(nightly);
        }
        std::vector<QWidget*> editors = shown("job-editor");
        ASSERT_EQ(editors.size(), 2u);
        QStringList names{name(editors[0]), name(editors[1])};
        names.sort();
        EXPECT_EQ(names, QStringList({"", "Nightly review"}));

        // A closed editor is gone; asking again opens a fresh one.
        for (QWidget* editor : editors)
            if (name(editor).isEmpty())
                editor->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        windows.showEditor(std::nullopt);
        EXPECT_EQ(shown("job-editor").size(), 2u);

        windows.showSettings();
        shown("settings").front()->close();
        windows.showSettings();
        EXPECT_EQ(shown("settings").size(), 1u);
    }
    // The windows go with the application.
    EXPECT_TRUE(shown("job-editor").empty());
    EXPECT_TRUE(shown("settings").empty());
}

} // namespace
} // namespace marrowbell::app
