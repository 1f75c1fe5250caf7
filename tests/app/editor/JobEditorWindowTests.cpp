#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>

#include "editor/EditorFixture.h"
#include "editor/JobEditorWindow.h"
#include "job/JobTestSupport.h"
#include "model/AppModel.h"
#include "model/Format.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using namespace std::chrono_literals;

// Today's 10:00 in the system's zone.
Instant tenOClock() {
    return *CronExpression("0 10 * * *").nextDate(Instant::now() - 86400, TimeZone::system());
}

class JobEditorWindowTest : public testing::Test {
protected:
    JobEditorWindowTest() { home.claude(); }

    ~JobEditorWindowTest() override { delete window; }

    // Opens the editor on `editing` (none: a new job), at `now`.
    JobEditorWindow& open(std::optional<Job> editing = std::nullopt, Instant now = Instant::now()) {
        if (!model)
            model = std::make_unique<AppModel>();
        model->setEditingJob(editing);
        window = new JobEditorWindow(*model, nullptr, [now] { return now; });
        window->setFolderChooser([this](QWidget*, const QString& start) {
            chooserStart = start;
            return chosen;
        });
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        return *window;
    }

    template <class Widget> Widget* find(const char* name) const {
        Widget* widget = window->findChild<Widget*>(name);
        EXPECT_TRUE(widget) << name;
        return widget;
    }
    std::string text(const char* label) const { return find<QLabel>(label)->text().toStdString(); }
    void type(const char* field, const QString& text) const {
        QLineEdit* edit = find<QLineEdit>(field);
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    void pick(const char* box, const QString& item) const {
        QComboBox* combo = find<QComboBox>(box);
        const int index = combo->findText(item);
        ASSERT_GE(index, 0) << item.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void chooseFolder(const std::filesystem::path& folder) {
        chosen = QString::fromStdString(folder.string());
        find<QPushButton>("chooseFolder")->click();
    }
    // Clicks the button of `role` in the open message box `name`; its text.
    std::string answer(const char* name, QMessageBox::ButtonRole role) const {
        for (QMessageBox* box : window->findChildren<QMessageBox*>(name))
            if (box->isVisible())
                for (QAbstractButton* button : box->buttons())
                    if (box->buttonRole(button) == role) {
                        button->click();
                        return box->text().toStdString();
                    }
        return "";
    }
    // Fills in what a new job needs and schedules it.
    void fillIn() {
        type("name", "Morning brief");
        QTest::keyClicks(find<QPlainTextEdit>("prompt"), "Summarise yesterday's commits.");
        chooseFolder(home.root / "plain");
    }
    // The job the model holds after saving; none when nothing was saved.
    std::optional<Job> saved() const {
        for (const Job& job : model->jobs())
            return job;
        return std::nullopt;
    }
    bool commandSettled() const {
        return find<QPlainTextEdit>("resolvedCommand")->toPlainText() != "resolving\u2026";
    }

    test::EditorHome home;
    std::unique_ptr<AppModel> model;
    QPointer<JobEditorWindow> window;
    std::optional<QString> chosen;
    QString chooserStart;
};

// A new job opens on the manifest's schedule, which the stepper rewrites; the footer
// says when the job first runs, or what is wrong with its schedule.
TEST_F(JobEditorWindowTest, ANewJobOpensOnTheManifestScheduleAndSaysWhenItFirstRuns) {
    const Instant now = tenOClock();
    open(std::nullopt, now);
    EXPECT_EQ(find<QComboBox>("repeat")->currentText(), "Every weekday");
    EXPECT_EQ(find<QTimeEdit>("time")->time(), QTime(9, 0));
    EXPECT_EQ(text("asCron"), "0 9 * * 1-5");
    EXPECT_EQ(text("message"), "Name this job to schedule it.");
    EXPECT_TRUE(find<QPushButton>("schedule")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("delete")->isVisible());

    pick("repeat", "Every few minutes");
    QSpinBox* minutes = find<QSpinBox>("minutes");
    EXPECT_EQ(minutes->value(), 15);
    EXPECT_EQ(text("asCron"), "*/15 * * * *");
    minutes->setValue(20);
    EXPECT_EQ(text("asCron"), "*/20 * * * *");
    EXPECT_EQ(window->editor().draft.cron, "*/20 * * * *");
    EXPECT_FALSE(find<QLabel>("upcoming")->text().isEmpty());

    fillIn();
    pick("repeat", "Every day");
    find<QTimeEdit>("time")->setTime(QTime(9, 0));
    const Instant nine = *CronExpression("0 9 * * *").nextDate(now, TimeZone::system());
    EXPECT_GT(nine - now, 12 * 3600.0); // tomorrow's
    EXPECT_EQ(text("message"), "Runs from " + Format::date(nine, "EEE d MMM, h:mm a"));

    pick("repeat", "Custom cron");
    type("cron", "0 9 * * mon-fri");
    EXPECT_EQ(text("scheduleError"), "The weekday field does not accept \"mon-fri\".");
    EXPECT_TRUE(find<QLabel>("scheduleError")->isVisible());
    EXPECT_FALSE(find<QLabel>("upcoming")->isVisible());
    EXPECT_EQ(text("message"), "Set a schedule.");
    find<QPushButton>("schedule")->click();
    EXPECT_TRUE(window);
    EXPECT_FALSE(saved());
}

// A blank name and model are kept as typed (an empty one: the editor's own test), and the
// window closes. Made here and nowhere else, the job runs when its minute comes: the
// model's own scheduler picks it up from the store and leaves a record.
TEST_F(JobEditorWindowTest, SavingKeepsWhatWasTypedAndTheJobRunsAtItsNextMinute) {
    open();
    fillIn();
    type("name", "  ");
    pick("repeat", "Custom cron");
    type("cron", "* * * * *");
    find<QToolButton>("advanced")->click();
    type("model", " ");
    find<QPushButton>("schedule")->click();
    ASSERT_TRUE(saved());
    EXPECT_EQ(saved()->name, "  ");
    EXPECT_EQ(saved()->model, " ");
    EXPECT_EQ(saved()->timeZoneIdentifier, TimeZone::system().identifier());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window; }, 5000));
    const Uuid id = saved()->id;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model->history()->runs(id).empty(); }, 75000));
}

TEST_F(JobEditorWindowTest, AnEditedJobKeepsItsIdentityAndZone) {
    Job job = test::makeJob("Nightly", "30 2 * * *");
    job.workingDirectory = FileUrl::fromPath(home.root / "plain", true);
    job.timeZoneIdentifier = "Pacific/Auckland";
    home.add(job);
    model = std::make_unique<AppModel>();
    open(model->jobs().at(0));
    EXPECT_EQ(find<QComboBox>("repeat")->currentText(), "Every day");
    EXPECT_TRUE(find<QPushButton>("delete")->isVisible());
    EXPECT_EQ(text("message"), "");
    type("name", "Nightly review");
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(saved());
    EXPECT_EQ(saved()->id, job.id);
    EXPECT_EQ(saved()->timeZoneIdentifier, "Pacific/Auckland");
    EXPECT_EQ(saved()->name, "Nightly review");
}

// Advanced offers only the endpoints the harness can read, and a harness that is not
// installed cannot be scheduled; the command is resolved again only when what it shows
// changes.
TEST_F(JobEditorWindowTest, AdvancedOffersWhatCanRunAndTheCommandFollowsIt) {
    home.add(test::makeEndpoint("Studio", EndpointKind::lmStudio));
    home.add(test::makeEndpoint("Proxy", EndpointKind::anthropicCompatible));
    home.add(test::makeEndpoint("Gateway", EndpointKind::openAICompatible));
    open();
    fillIn();
    find<QToolButton>("advanced")->click();
    QComboBox* endpoints = find<QComboBox>("endpoint");
    ASSERT_EQ(endpoints->count(), 2);
    EXPECT_EQ(endpoints->itemText(0), "Default for this harness");
    EXPECT_EQ(endpoints->itemText(1), "Proxy");
    EXPECT_EQ(text("endpointNote"),
              "Studio, Gateway not shown — Claude Code cannot read what they serve.");

    pick("harness", "Codex — not installed");
    EXPECT_FALSE(find<QPushButton>("schedule")->isEnabled());
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(saved());
    pick("harness", "Claude Code");
    EXPECT_TRUE(find<QPushButton>("schedule")->isEnabled());

    ASSERT_TRUE(QTest::qWaitFor([&] { return commandSettled(); }, 20000));
    const QString command = find<QPlainTextEdit>("resolvedCommand")->toPlainText();
    EXPECT_TRUE(command.startsWith("claude ")) << command.toStdString();
    type("name", "Another name");
    QTest::keyClicks(find<QPlainTextEdit>("prompt"), " More.");
    pick("repeat", "Every few hours");
    pick("offline", "Record it as a failure");
    EXPECT_EQ(find<QPlainTextEdit>("resolvedCommand")->toPlainText(), command);
    type("model", "opus");
    EXPECT_FALSE(commandSettled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return commandSettled(); }, 20000));
    EXPECT_TRUE(find<QPlainTextEdit>("resolvedCommand")->toPlainText().contains("--model opus"));
}

TEST_F(JobEditorWindowTest, ALateListingForAnEarlierHarnessIsDropped) {
    home.claude(1.5); // answers long after the harness was changed
    home.codex();
    open();
    find<QToolButton>("advanced")->click();
    EXPECT_TRUE(find<QWidget>("modelsBusy")->isVisible());
    pick("harness", "Codex");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !find<QWidget>("modelsBusy")->isVisible(); }, 20000));
    QTest::qWait(2500);
    std::vector<std::string> offered;
    for (const ModelOption& option : window->editor().availableModels)
        offered.push_back(option.id);
    EXPECT_EQ(offered, (std::vector<std::string>{"gpt-5-codex", "gpt-5"}));
}

// The chooser starts in the folder chosen; closing with changes asks first, and the
// answers that come after are dropped.
TEST_F(JobEditorWindowTest, TheFolderChooserStartsInTheChosenFolderAndClosingAsks) {
    home.claude(1);
    open();
    EXPECT_EQ(text("folderPath"), "No folder chosen");
    EXPECT_EQ(find<QPushButton>("chooseFolder")->text(), "Choose");
    chooseFolder(home.root / "project");
    EXPECT_EQ(find<QPushButton>("chooseFolder")->text(), "Change");
    EXPECT_EQ(text("folderPath"), (home.root / "project").string());
    chosen.reset(); // cancelled
    find<QPushButton>("chooseFolder")->click();
    EXPECT_EQ(chooserStart.toStdString(), (home.root / "project").string());
    EXPECT_EQ(text("folderPath"), (home.root / "project").string());

    type("name", "Half done");
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(answer("confirmDiscard", QMessageBox::RejectRole), "Discard changes?");
    EXPECT_TRUE(window->isVisible());
    window->close();
    EXPECT_EQ(answer("confirmDiscard", QMessageBox::DestructiveRole), "Discard changes?");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window; }, 5000));
    EXPECT_FALSE(saved());
    QTest::qWait(2000); // the listing and the preview answer into nothing
}

} // namespace
} // namespace marrowbell::app
