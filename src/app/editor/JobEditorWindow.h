#pragma once

// Qt first: its moc reads the C++20 library headers only after Qt's own.
#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "base/Instant.h"
#include "editor/JobEditor.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimeEdit;
class QToolButton;
class QVBoxLayout;

namespace marrowbell::app {

class AppModel;

// The "Scheduled Job" window: creates a job, or edits the model's `editingJob`, and
// hands the result to the model. Nothing is written until "Schedule" or "Delete".
// Listings and the command preview run in the background; an answer that comes back
// for an outdated choice, or after the window closed, is dropped.
class JobEditorWindow : public QWidget {
    Q_OBJECT
public:
    using Clock = std::function<Instant()>;
    // Asks the user for a folder, starting in `start` (empty: anywhere); none on cancel.
    using FolderChooser = std::function<std::optional<QString>(QWidget*, const QString& start)>;

    explicit JobEditorWindow(AppModel& model, QWidget* parent = nullptr, Clock clock = {});
    ~JobEditorWindow() override;

    const JobEditor& editor() const { return editor_; }
    // Replaces the platform's folder dialog (tests, screenshots).
    void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
    // Whether the draft differs from what the window opened with.
    bool hasChanges() const;

    // The window's operations, as its controls call them.
    void chooseFolder();
    void save();
    void deleteJob();

signals:
    // Once the window has closed for good (saved, deleted or cancelled).
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void buildTask(QVBoxLayout* form);
    void buildFolder(QVBoxLayout* form);
    void buildSchedule(QVBoxLayout* form);
    void buildPermission(QVBoxLayout* form);
    void buildAdvanced(QVBoxLayout* form);
    void buildFooter(QVBoxLayout* outer);

    // Re-reads the model into the editor's context.
    void readModel();
    // Shows the draft and every derived value; starts the queries whose key changed.
    void refresh();
    void showSchedule();
    void showPermission();
    void showAdvanced();
    void showEndpoints();
    void showModels();
    void showSkills();
    void showFooter();
    void startQueries();
    void setShowAdvanced(bool open);
    void scheduleChanged();
    QString when(Instant instant) const;
    void closeFinally();

    AppModel& model_;
    Clock clock_;
    FolderChooser chooseFolder_;
    JobEditor editor_;
    Draft opened_;
    bool showAdvanced_ = false;
    bool closing_ = false;
    bool updating_ = false;

    // What the answers on their way were asked for; an answer for anything else is late.
    std::optional<std::string> modelsKey_, skillsKey_, commandKey_, folderKey_;
    bool modelsPending_ = false;
    std::optional<bool> landsInWorktree_;
    QString resolvedCommand_;
    QList<QPair<QString, QString>> modelOffer_;
    std::vector<Skill> shownSkills_;

    QLineEdit* name_ = nullptr;
    QPlainTextEdit* prompt_ = nullptr;
    QLabel* folderPath_ = nullptr;
    QPushButton* folderButton_ = nullptr;
    QLabel* folderDescription_ = nullptr;
    QComboBox* repeat_ = nullptr;
    QWidget* intervalRow_ = nullptr;
    QSpinBox* minutes_ = nullptr;
    QSpinBox* hours_ = nullptr;
    QWidget* weekdayRow_ = nullptr;
    QComboBox* weekday_ = nullptr;
    QWidget* dayRow_ = nullptr;
    QSpinBox* day_ = nullptr;
    QWidget* timeRow_ = nullptr;
    QTimeEdit* time_ = nullptr;
    QWidget* cronRow_ = nullptr;
    QLineEdit* cron_ = nullptr;
    QWidget* asCronRow_ = nullptr;
    QLabel* asCron_ = nullptr;
    QWidget* errorRow_ = nullptr;
    QLabel* scheduleError_ = nullptr;
    QLabel* upcoming_ = nullptr;
    QButtonGroup* permission_ = nullptr;
    QWidget* permissionNoteRow_ = nullptr;
    QLabel* permissionIcon_ = nullptr;
    QLabel* permissionNote_ = nullptr;
    QToolButton* advancedToggle_ = nullptr;
    QLabel* advancedSummary_ = nullptr;
    QWidget* advanced_ = nullptr;
    QComboBox* harness_ = nullptr;
    QComboBox* endpoint_ = nullptr;
    QLabel* endpointNote_ = nullptr;
    QLineEdit* modelField_ = nullptr;
    QToolButton* modelMenu_ = nullptr;
    QWidget* modelBusy_ = nullptr;
    QLabel* modelNote_ = nullptr;
    QWidget* skillsSection_ = nullptr;
    QLineEdit* skillFilter_ = nullptr;
    QPushButton* turnAllOff_ = nullptr;
    QLabel* skillCount_ = nullptr;
    QListWidget* skills_ = nullptr;
    QLabel* noSkills_ = nullptr;
    QWidget* skillsBusy_ = nullptr;
    QLabel* skillHint_ = nullptr;
    QComboBox* offline_ = nullptr;
    QLabel* stopAfter_ = nullptr;
    QPlainTextEdit* command_ = nullptr;
    QToolButton* copyCommand_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* schedule_ = nullptr;
};

} // namespace marrowbell::app
