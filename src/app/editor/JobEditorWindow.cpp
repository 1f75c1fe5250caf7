#include "editor/JobEditorWindow.h"

#include "cron/SchedulePreset.h"
#include "model/AppModel.h"
#include "model/Format.h"
#include "run/RunWorktree.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QThreadPool>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <map>
#include <memory>
#include <utility>

namespace marrowbell::app {

namespace {

const char* const showAdvancedKey = "jobEditor.showAdvanced";
constexpr int iconSize = 16;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QSettings preferences() {
    return QSettings("Marrowbell", "Marrowbell");
}

QLabel* heading(const QString& text) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* note(const QString& objectName) {
    auto* label = new QLabel;
    label->setObjectName(objectName);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    return label;
}

constexpr int labelWidth = 96;

// A row of a label and a control, the label column of equal width in every section.
// Pickers keep their natural width; text fields take the rest of the line.
QWidget* row(const QString& text, QWidget* control, QWidget* extra = nullptr) {
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(text);
    label->setFixedWidth(labelWidth);
    label->setBuddy(control);
    layout->addWidget(label);
    const bool picker =
        qobject_cast<QComboBox*>(control) || qobject_cast<QAbstractSpinBox*>(control);
    layout->addWidget(control, picker ? 0 : 1);
    if (extra)
        layout->addWidget(extra);
    if (picker)
        layout->addStretch(1);
    return widget;
}

// Shown while a harness is asked in the background; the window stays usable meanwhile.
QLabel* busyIndicator(const QString& objectName, const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName(objectName);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    return label;
}

QPixmap warningPixmap(const QWidget* widget) {
    return widget->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconSize);
}

// No icon theme is sure to have one, so the shield is drawn.
QPixmap shieldPixmap(const QWidget* widget) {
    const qreal ratio = widget->devicePixelRatioF();
    QPixmap pixmap(QSize(iconSize, iconSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(8, 1);
    path.lineTo(14, 3.5);
    path.cubicTo(14, 9, 11.5, 13, 8, 15);
    path.cubicTo(4.5, 13, 2, 9, 2, 3.5);
    path.closeSubpath();
    painter.fillPath(path, QColor(0x2e, 0x8b, 0x57));
    painter.setPen(QPen(Qt::white, 1.6));
    painter.drawPolyline(QPolygonF{{5, 8}, {7.3, 10.3}, {11, 5.8}});
    return pixmap;
}

void setVisibleIfChanged(QWidget* widget, bool visible) {
    if (widget->isVisibleTo(widget->parentWidget()) != visible)
        widget->setVisible(visible);
}

void setText(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

using Items = QList<QPair<QString, QString>>; // shown text, identifier

// Refills a picker only when its entries differ, so choosing in it is never disturbed.
void setItems(QComboBox* box, const Items& items, const QString& current) {
    bool same = box->count() == items.size();
    for (int i = 0; same && i < items.size(); ++i)
        same = box->itemText(i) == items[i].first && box->itemData(i).toString() == items[i].second;
    if (!same) {
        box->clear();
        for (const auto& [text, id] : items)
            box->addItem(text, id);
    }
    box->setCurrentIndex(box->findData(current));
}

// The model's state, as the editor reads it.
EditorContext contextOf(const AppModel& model) {
    EditorContext context;
    if (const HarnessRegistry* registry = model.registry())
        context.registry = *registry;
    context.endpoints = model.endpoints();
    context.jobs = model.jobs();
    context.settings = model.settings();
    for (const HarnessSpec& spec : model.installedHarnesses())
        context.installedHarnessIDs.insert(spec.id);
    context.defaultHarnessID = model.defaultHarnessID();
    context.editingJob = model.editingJob();
    // Asked once per harness and endpoint until the model changes: a harness's settings
    // file may be read for each answer.
    auto known = std::make_shared<std::map<std::pair<std::string, Uuid>, EndpointCompatibility>>();
    context.compatibility = [&model, known](const std::string& harnessID,
                                            const Endpoint& endpoint) {
        const auto key = std::pair(harnessID, endpoint.id);
        auto found = known->find(key);
        if (found == known->end())
            found = known->emplace(key, model.endpointCompatibility(harnessID, endpoint)).first;
        return found->second;
    };
    return context;
}

} // namespace

JobEditorWindow::JobEditorWindow(AppModel& model, QWidget* parent, Clock clock)
    : QWidget(parent, Qt::Window)
    , model_(model)
    , clock_(clock ? std::move(clock) : Clock(&Instant::now))
    , editor_([&] {
        const QTime now =
            QDateTime::fromMSecsSinceEpoch(qint64(clock_().unixMilliseconds())).time();
        return JobEditor(contextOf(model), now.hour(), now.minute());
    }()) {
    opened_ = editor_.draft;
    chooseFolder_ = [](QWidget* parent, const QString& start) -> std::optional<QString> {
        const QString folder = QFileDialog::getExistingDirectory(
            parent, QObject::tr("Choose Folder"), start, QFileDialog::ShowDirsOnly);
        if (folder.isEmpty())
            return std::nullopt;
        return folder;
    };
    showAdvanced_ = preferences().value(showAdvancedKey, false).toBool();

    setObjectName("job-editor");
    setWindowTitle("Scheduled Job");
    setAttribute(Qt::WA_DeleteOnClose);
    build();
    resize(640, 680);

    connect(&model_, &AppModel::jobsChanged, this, &JobEditorWindow::readModel);
    connect(&model_, &AppModel::endpointsChanged, this, &JobEditorWindow::readModel);
    connect(&model_, &AppModel::settingsChanged, this, &JobEditorWindow::readModel);
    connect(&model_, &AppModel::installedHarnessesChanged, this, &JobEditorWindow::readModel);

    auto* saveShortcut = new QShortcut(QKeySequence::Save, this);
    connect(saveShortcut, &QShortcut::activated, this, &JobEditorWindow::save);
    auto* cancelShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(cancelShortcut, &QShortcut::activated, this, &QWidget::close);

    refresh();
}

JobEditorWindow::~JobEditorWindow() = default;

bool JobEditorWindow::hasChanges() const {
    return editor_.draft != opened_;
}

// ---- Layout ----------------------------------------------------------------------

void JobEditorWindow::build() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* page = new QWidget;
    auto* form = new QVBoxLayout(page);
    form->setContentsMargins(20, 16, 20, 16);
    form->setSpacing(6);
    buildTask(form);
    buildFolder(form);
    buildSchedule(form);
    buildPermission(form);
    buildAdvanced(form);
    form->addStretch(1);
    scroll->setWidget(page);
    outer->addWidget(scroll, 1);

    buildFooter(outer);
}

void JobEditorWindow::buildTask(QVBoxLayout* form) {
    form->addWidget(heading("Task"));
    name_ = new QLineEdit;
    name_->setObjectName("name");
    name_->setPlaceholderText("Morning brief");
    form->addWidget(row("Name", name_));
    prompt_ = new QPlainTextEdit;
    prompt_->setObjectName("prompt");
    prompt_->setTabChangesFocus(true);
    prompt_->setPlaceholderText("Prompt");
    // Five lines or so: a prompt is a paragraph, and the whole form fits the window.
    prompt_->setFixedHeight(prompt_->fontMetrics().lineSpacing() * 5 + 12);
    form->addWidget(prompt_);
    QLabel* hint = note("promptHint");
    hint->setText("Nobody is there to answer questions at 7 AM. Write an instruction with a "
                  "definition of done, not an opening message.");
    form->addWidget(hint);

    name_->setText(qs(editor_.draft.name));
    prompt_->setPlainText(qs(editor_.draft.prompt));
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) {
        editor_.draft.name = text.toStdString();
        refresh();
    });
    connect(prompt_, &QPlainTextEdit::textChanged, this, [this] {
        if (updating_)
            return;
        editor_.draft.prompt = prompt_->toPlainText().toStdString();
        refresh();
    });
}

void JobEditorWindow::buildFolder(QVBoxLayout* form) {
    form->addSpacing(8);
    form->addWidget(heading("Runs in"));
    auto* line = new QWidget;
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    folderPath_ = new QLabel;
    folderPath_->setObjectName("folderPath");
    folderPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderPath_->setMinimumWidth(1);
    folderPath_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    folderButton_ = new QPushButton;
    folderButton_->setObjectName("chooseFolder");
    layout->addWidget(folderPath_, 1);
    layout->addWidget(folderButton_);
    form->addWidget(line);
    folderDescription_ = note("folderDescription");
    form->addWidget(folderDescription_);
    connect(folderButton_, &QPushButton::clicked, this, &JobEditorWindow::chooseFolder);
}

void JobEditorWindow::buildSchedule(QVBoxLayout* form) {
    form->addSpacing(8);
    form->addWidget(heading("Schedule"));
    repeat_ = new QComboBox;
    repeat_->setObjectName("repeat");
    for (SchedulePresetKind kind : allSchedulePresetKinds)
        repeat_->addItem(qs(std::string(title(kind))));
    form->addWidget(row("Repeat", repeat_));

    minutes_ = new QSpinBox;
    minutes_->setObjectName("minutes");
    minutes_->setRange(ScheduleControls::minInterval, ScheduleControls::maxMinutes);
    minutes_->setPrefix("Every ");
    minutes_->setSuffix(" minutes");
    hours_ = new QSpinBox;
    hours_->setObjectName("hours");
    hours_->setRange(ScheduleControls::minInterval, ScheduleControls::maxHours);
    hours_->setPrefix("Every ");
    hours_->setSuffix(" hours");
    intervalRow_ = new QWidget;
    auto* intervalLayout = new QHBoxLayout(intervalRow_);
    intervalLayout->setContentsMargins(0, 0, 0, 0);
    intervalLayout->addSpacing(labelWidth + intervalLayout->spacing());
    intervalLayout->addWidget(minutes_);
    intervalLayout->addWidget(hours_);
    intervalLayout->addStretch(1);
    form->addWidget(intervalRow_);

    weekday_ = new QComboBox;
    weekday_->setObjectName("weekday");
    for (const std::string& day : SchedulePreset::weekdayNames())
        weekday_->addItem(qs(day));
    weekdayRow_ = row("On", weekday_);
    form->addWidget(weekdayRow_);

    day_ = new QSpinBox;
    day_->setObjectName("dayOfMonth");
    day_->setRange(ScheduleControls::minDay, ScheduleControls::maxDay);
    day_->setPrefix("On day ");
    dayRow_ = new QWidget;
    auto* dayLayout = new QHBoxLayout(dayRow_);
    dayLayout->setContentsMargins(0, 0, 0, 0);
    dayLayout->addSpacing(labelWidth + dayLayout->spacing());
    dayLayout->addWidget(day_);
    dayLayout->addStretch(1);
    form->addWidget(dayRow_);

    time_ = new QTimeEdit;
    time_->setObjectName("time");
    // 12- or 24-hour, as the user's locale writes times.
    time_->setDisplayFormat(locale().timeFormat(QLocale::ShortFormat));
    timeRow_ = row("At", time_);
    form->addWidget(timeRow_);

    cron_ = new QLineEdit;
    cron_->setObjectName("cron");
    cron_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    cron_->setPlaceholderText("minute hour day month weekday");
    cronRow_ = row("Cron", cron_);
    form->addWidget(cronRow_);

    asCron_ = new QLabel;
    asCron_->setObjectName("asCron");
    asCron_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    asCron_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    asCronRow_ = row("As cron", asCron_);
    form->addWidget(asCronRow_);

    errorRow_ = new QWidget;
    auto* errorLayout = new QHBoxLayout(errorRow_);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    auto* warning = new QLabel;
    warning->setPixmap(warningPixmap(this));
    warning->setAlignment(Qt::AlignTop);
    scheduleError_ = new QLabel;
    scheduleError_->setObjectName("scheduleError");
    scheduleError_->setWordWrap(true);
    errorLayout->addWidget(warning);
    errorLayout->addWidget(scheduleError_, 1);
    form->addWidget(errorRow_);
    upcoming_ = note("upcoming");
    form->addWidget(upcoming_);

    connect(repeat_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (updating_ || index < 0)
            return;
        editor_.schedule.kind = allSchedulePresetKinds[std::size_t(index)];
        scheduleChanged();
    });
    auto intervalChanged = [this](int value) {
        if (updating_)
            return;
        editor_.schedule.interval = value;
        scheduleChanged();
    };
    connect(minutes_, &QSpinBox::valueChanged, this, intervalChanged);
    connect(hours_, &QSpinBox::valueChanged, this, intervalChanged);
    connect(weekday_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (updating_ || index < 0)
            return;
        editor_.schedule.weekday = index;
        scheduleChanged();
    });
    connect(day_, &QSpinBox::valueChanged, this, [this](int value) {
        if (updating_)
            return;
        editor_.schedule.dayOfMonth = value;
        scheduleChanged();
    });
    connect(time_, &QTimeEdit::timeChanged, this, [this](QTime time) {
        if (updating_)
            return;
        editor_.schedule.hour = time.hour();
        editor_.schedule.minute = time.minute();
        scheduleChanged();
    });
    connect(cron_, &QLineEdit::textEdited, this, [this](const QString& text) {
        editor_.draft.cron = text.toStdString();
        refresh();
    });
}

void JobEditorWindow::buildPermission(QVBoxLayout* form) {
    form->addSpacing(8);
    form->addWidget(heading("What it may touch"));
    permission_ = new QButtonGroup(this);
    for (PermissionLevel level : allPermissionLevels) {
        auto* button = new QRadioButton;
        button->setObjectName(qs("permission-" + std::string(rawValue(level))));
        permission_->addButton(button, int(level));
        form->addWidget(button);
    }
    permissionNoteRow_ = new QWidget;
    auto* layout = new QHBoxLayout(permissionNoteRow_);
    layout->setContentsMargins(0, 0, 0, 0);
    permissionIcon_ = new QLabel;
    permissionIcon_->setAlignment(Qt::AlignTop);
    permissionNote_ = note("permissionNote");
    layout->addWidget(permissionIcon_);
    layout->addWidget(permissionNote_, 1);
    form->addWidget(permissionNoteRow_);
    connect(permission_, &QButtonGroup::idClicked, this, [this](int id) {
        editor_.draft.permission = PermissionLevel(id);
        refresh();
    });
}

void JobEditorWindow::buildAdvanced(QVBoxLayout* form) {
    form->addSpacing(8);
    auto* disclosure = new QWidget;
    auto* disclosureLayout = new QHBoxLayout(disclosure);
    disclosureLayout->setContentsMargins(0, 0, 0, 0);
    advancedToggle_ = new QToolButton;
    advancedToggle_->setObjectName("advanced");
    advancedToggle_->setText("Advanced");
    advancedToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    advancedToggle_->setAutoRaise(true);
    QFont bold = advancedToggle_->font();
    bold.setBold(true);
    advancedToggle_->setFont(bold);
    advancedSummary_ = note("advancedSummary");
    advancedSummary_->setWordWrap(false);
    disclosureLayout->addWidget(advancedToggle_);
    disclosureLayout->addWidget(advancedSummary_, 1);
    disclosureLayout->addStretch();
    form->addWidget(disclosure);

    advanced_ = new QWidget;
    advanced_->setObjectName("advancedSection");
    auto* section = new QVBoxLayout(advanced_);
    section->setContentsMargins(0, 0, 0, 0);

    harness_ = new QComboBox;
    harness_->setObjectName("harness");
    section->addWidget(row("Harness", harness_));

    endpoint_ = new QComboBox;
    endpoint_->setObjectName("endpoint");
    section->addWidget(row("Endpoint", endpoint_));
    endpointNote_ = note("endpointNote");
    section->addWidget(endpointNote_);

    modelField_ = new QLineEdit;
    modelField_->setObjectName("model");
    modelMenu_ = new QToolButton;
    modelMenu_->setObjectName("modelMenu");
    modelMenu_->setArrowType(Qt::DownArrow);
    modelMenu_->setPopupMode(QToolButton::InstantPopup);
    modelMenu_->setMenu(new QMenu(modelMenu_));
    modelMenu_->setToolTip("Offered models");
    auto* modelLine = new QWidget;
    auto* modelLayout = new QHBoxLayout(modelLine);
    modelLayout->setContentsMargins(0, 0, 0, 0);
    modelLayout->setSpacing(2);
    modelLayout->addWidget(modelField_, 1);
    modelLayout->addWidget(modelMenu_);
    modelBusy_ = busyIndicator("modelsBusy", "listing\u2026");
    section->addWidget(row("Model", modelLine, modelBusy_));
    modelNote_ = note("modelNote");
    section->addWidget(modelNote_);

    skillsSection_ = new QWidget;
    auto* skills = new QVBoxLayout(skillsSection_);
    skills->setContentsMargins(0, 0, 0, 0);
    skillFilter_ = new QLineEdit;
    skillFilter_->setObjectName("skillFilter");
    skillFilter_->setPlaceholderText("Filter");
    skillFilter_->setClearButtonEnabled(true);
    turnAllOff_ = new QPushButton("Turn all off");
    turnAllOff_->setObjectName("turnAllOff");
    auto* filterLine = new QWidget;
    auto* filterLayout = new QHBoxLayout(filterLine);
    filterLayout->setContentsMargins(0, 0, 0, 0);
    filterLayout->addWidget(skillFilter_, 1);
    filterLayout->addWidget(turnAllOff_);
    skillsBusy_ = busyIndicator("skillsBusy", "listing\u2026");
    skills->addWidget(row("Skills", filterLine, skillsBusy_));
    skillCount_ = note("skillCount");
    skills->addWidget(skillCount_);
    skills_ = new QListWidget;
    skills_->setObjectName("skills");
    skills_->setMaximumHeight(140);
    skills->addWidget(skills_);
    noSkills_ = note("noSkills");
    skills->addWidget(noSkills_);
    skillHint_ = note("skillHint");
    skills->addWidget(skillHint_);
    section->addWidget(skillsSection_);

    offline_ = new QComboBox;
    offline_->setObjectName("offline");
    for (OfflinePolicy policy : allOfflinePolicies)
        offline_->addItem(qs(std::string(plainTitle(policy))));
    section->addWidget(row("If offline", offline_));

    stopAfter_ = new QLabel;
    stopAfter_->setObjectName("stopAfter");
    section->addWidget(row("Stop after", stopAfter_));

    section->addWidget(new QLabel("Resolved command"));
    command_ = new QPlainTextEdit;
    command_->setObjectName("resolvedCommand");
    command_->setReadOnly(true);
    command_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    command_->setMaximumHeight(80);
    copyCommand_ = new QToolButton;
    copyCommand_->setObjectName("copyCommand");
    copyCommand_->setText("Copy");
    copyCommand_->setIcon(QIcon::fromTheme("edit-copy"));
    copyCommand_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto* commandLine = new QWidget;
    auto* commandLayout = new QHBoxLayout(commandLine);
    commandLayout->setContentsMargins(0, 0, 0, 0);
    commandLayout->addWidget(command_, 1);
    commandLayout->addWidget(copyCommand_, 0, Qt::AlignTop);
    section->addWidget(commandLine);
    form->addWidget(advanced_);

    connect(advancedToggle_, &QToolButton::clicked, this,
            [this] { setShowAdvanced(!showAdvanced_); });
    connect(harness_, &QComboBox::activated, this, [this](int index) {
        editor_.draft.harnessID = harness_->itemData(index).toString().toStdString();
        refresh();
    });
    connect(endpoint_, &QComboBox::activated, this, [this](int index) {
        editor_.draft.endpointID = Uuid::parse(endpoint_->itemData(index).toString().toStdString());
        refresh();
    });
    connect(modelField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        editor_.draft.model = text.toStdString();
        refresh();
    });
    connect(modelMenu_->menu(), &QMenu::triggered, this, [this](QAction* action) {
        editor_.draft.model = action->data().toString().toStdString();
        refresh();
    });
    connect(skillFilter_, &QLineEdit::textChanged, this, [this](const QString& text) {
        editor_.skillFilter = text.toStdString();
        refresh();
    });
    connect(turnAllOff_, &QPushButton::clicked, this, [this] {
        editor_.draft.enabledSkills.clear();
        refresh();
    });
    connect(skills_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (updating_)
            return;
        const std::string id = item->data(Qt::UserRole).toString().toStdString();
        if (item->checkState() == Qt::Checked)
            editor_.draft.enabledSkills.insert(id);
        else
            editor_.draft.enabledSkills.erase(id);
        refresh();
    });
    connect(offline_, &QComboBox::activated, this, [this](int index) {
        editor_.draft.offlinePolicy = allOfflinePolicies[std::size_t(index)];
        refresh();
    });
    connect(copyCommand_, &QToolButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(command_->toPlainText()); });
}

void JobEditorWindow::buildFooter(QVBoxLayout* outer) {
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    outer->addWidget(divider);
    auto* footer = new QWidget;
    auto* layout = new QHBoxLayout(footer);
    layout->setContentsMargins(20, 10, 20, 12);
    delete_ = new QPushButton("Delete");
    delete_->setObjectName("delete");
    delete_->setVisible(!editor_.isNew());
    message_ = new QLabel;
    message_->setObjectName("message");
    message_->setWordWrap(true);
    cancel_ = new QPushButton("Cancel");
    cancel_->setObjectName("cancel");
    schedule_ = new QPushButton("Schedule");
    schedule_->setObjectName("schedule");
    schedule_->setDefault(true);
    layout->addWidget(delete_);
    layout->addWidget(message_, 1);
    layout->addWidget(cancel_);
    layout->addWidget(schedule_);
    outer->addWidget(footer);

    connect(delete_, &QPushButton::clicked, this, &JobEditorWindow::deleteJob);
    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    connect(schedule_, &QPushButton::clicked, this, &JobEditorWindow::save);
}

// ---- State -----------------------------------------------------------------------

void JobEditorWindow::readModel() {
    EditorContext context = contextOf(model_);
    // The window stays on the job it opened with, whatever the panel asks to edit next.
    context.editingJob = editor_.editingJob();
    editor_.setContext(std::move(context));
    refresh();
}

void JobEditorWindow::scheduleChanged() {
    editor_.rebuildCron();
    refresh();
}

void JobEditorWindow::setShowAdvanced(bool open) {
    if (showAdvanced_ != open) {
        showAdvanced_ = open;
        preferences().setValue(showAdvancedKey, open);
    }
    refresh();
}

QString JobEditorWindow::when(Instant instant) const {
    return qs(Format::date(instant, "EEE d MMM, h:mm a"));
}

void JobEditorWindow::refresh() {
    if (updating_)
        return;
    updating_ = true;
    const Draft& draft = editor_.draft;
    if (name_->text() != qs(draft.name))
        name_->setText(qs(draft.name));
    if (prompt_->toPlainText() != qs(draft.prompt))
        prompt_->setPlainText(qs(draft.prompt));

    const QString folder =
        draft.workingDirectory ? qs(draft.workingDirectory->fsPath().string()) : QString();
    setText(folderPath_, folder.isEmpty() ? "No folder chosen" : folder);
    folderPath_->setToolTip(folder);
    folderButton_->setText(folder.isEmpty() ? "Choose" : "Change");
    setText(folderDescription_, qs(editor_.folderDescription(landsInWorktree_)));

    showSchedule();
    showPermission();
    showAdvanced();
    showFooter();
    updating_ = false;
    startQueries();
}

void JobEditorWindow::showSchedule() {
    const ScheduleControls& controls = editor_.schedule;
    const SchedulePresetKind kind = controls.kind;
    repeat_->setCurrentIndex(int(kind));
    setVisibleIfChanged(intervalRow_, kind == SchedulePresetKind::everyMinutes ||
                                          kind == SchedulePresetKind::everyHours);
    setVisibleIfChanged(minutes_, kind == SchedulePresetKind::everyMinutes);
    setVisibleIfChanged(hours_, kind == SchedulePresetKind::everyHours);
    minutes_->setValue(controls.interval);
    hours_->setValue(controls.interval);
    setVisibleIfChanged(weekdayRow_, kind == SchedulePresetKind::weekly);
    weekday_->setCurrentIndex(controls.weekday);
    setVisibleIfChanged(dayRow_, kind == SchedulePresetKind::monthly);
    day_->setValue(controls.dayOfMonth);
    setVisibleIfChanged(timeRow_, controls.hasTime());
    time_->setTime(QTime(controls.hour, controls.minute));
    const bool custom = kind == SchedulePresetKind::custom;
    setVisibleIfChanged(cronRow_, custom);
    if (cron_->text() != qs(editor_.draft.cron))
        cron_->setText(qs(editor_.draft.cron));
    setVisibleIfChanged(asCronRow_, !custom);
    setText(asCron_, qs(editor_.draft.cron));

    const std::optional<std::string> error = editor_.scheduleError();
    setVisibleIfChanged(errorRow_, error.has_value());
    setText(scheduleError_, error ? qs(*error) : QString());
    QStringList lines;
    if (!error && custom)
        lines << qs(CronExpression(editor_.draft.cron).plainEnglish());
    for (Instant instant : editor_.upcoming(clock_()))
        lines << when(instant);
    setVisibleIfChanged(upcoming_, !lines.isEmpty());
    setText(upcoming_, lines.join('\n'));
}

void JobEditorWindow::showPermission() {
    for (PermissionLevel level : allPermissionLevels) {
        QAbstractButton* button = permission_->button(int(level));
        button->setText(qs(editor_.permissionTitle(level, landsInWorktree_)));
        button->setChecked(level == editor_.draft.permission);
    }
    const JobEditor::Note note = editor_.permissionNote();
    setVisibleIfChanged(permissionNoteRow_, !note.text.empty());
    setText(permissionNote_, qs(note.text));
    permissionIcon_->setVisible(note.icon != JobEditor::Note::Icon::none);
    if (note.icon == JobEditor::Note::Icon::shield)
        permissionIcon_->setPixmap(shieldPixmap(this));
    else if (note.icon == JobEditor::Note::Icon::warning)
        permissionIcon_->setPixmap(warningPixmap(this));
}

void JobEditorWindow::showAdvanced() {
    advancedToggle_->setArrowType(showAdvanced_ ? Qt::DownArrow : Qt::RightArrow);
    setVisibleIfChanged(advancedSummary_, !showAdvanced_);
    setText(advancedSummary_, qs(editor_.advancedSummary()));
    setVisibleIfChanged(advanced_, showAdvanced_);
    if (!showAdvanced_)
        return; // filled when opened

    Items harnesses;
    bool listed = false;
    if (const auto& registry = editor_.context().registry)
        for (const HarnessSpec& spec : registry->specs()) {
            harnesses.append({qs(editor_.harnessLabel(spec)), qs(spec.id)});
            listed = listed || spec.id == editor_.draft.harnessID;
        }
    // A job's harness the manifest no longer describes stays shown as chosen.
    if (!listed && !editor_.draft.harnessID.empty())
        harnesses.append(
            {qs(editor_.draft.harnessID + " — not installed"), qs(editor_.draft.harnessID)});
    setItems(harness_, harnesses, qs(editor_.draft.harnessID));

    showEndpoints();
    showModels();
    showSkills();
    offline_->setCurrentIndex(int(editor_.draft.offlinePolicy));
    setText(stopAfter_, qs(editor_.limitDescription()));
    if (command_->toPlainText() != resolvedCommand_)
        command_->setPlainText(resolvedCommand_);
}

void JobEditorWindow::showEndpoints() {
    Items endpoints{{"Default for this harness", QString()}};
    const std::optional<Uuid>& chosen = editor_.draft.endpointID;
    bool listed = !chosen;
    for (const Endpoint& endpoint : editor_.usableEndpoints()) {
        endpoints.append({qs(endpoint.name), qs(endpoint.id.text())});
        listed = listed || endpoint.id == *chosen;
    }
    // The job's own endpoint stays chosen even when it cannot be used (the footer says
    // why), so opening a job never changes it unasked.
    if (!listed) {
        const Endpoint* endpoint = editor_.chosenEndpoint();
        endpoints.append({endpoint ? qs(endpoint->name) : qs(chosen->text()), qs(chosen->text())});
    }
    setItems(endpoint_, endpoints, chosen ? qs(chosen->text()) : QString());
    const std::string why = editor_.unusableEndpointsNote();
    setVisibleIfChanged(endpointNote_, !why.empty());
    setText(endpointNote_, qs(why));
}

void JobEditorWindow::showModels() {
    if (modelField_->text() != qs(editor_.draft.model))
        modelField_->setText(qs(editor_.draft.model));
    modelField_->setPlaceholderText(qs(editor_.modelPlaceholder()));
    // Refilled only when the offer changes: never while one of its entries is chosen.
    Items offer{{qs("Default for " + editor_.harnessName()), QString()}};
    for (const ModelOption& option : editor_.availableModels)
        offer.append({qs(option.label()), qs(option.id)});
    if (offer != modelOffer_) {
        modelOffer_ = offer;
        QMenu* menu = modelMenu_->menu();
        menu->clear();
        for (const auto& [text, id] : offer)
            menu->addAction(text)->setData(id);
    }
    setText(modelNote_, qs(editor_.modelNote()));
    setVisibleIfChanged(modelBusy_, modelsPending_);
}

void JobEditorWindow::showSkills() {
    const bool supported = editor_.harnessSupportsSkills();
    setVisibleIfChanged(skillsSection_, supported);
    if (!supported)
        return;
    const bool loaded = editor_.skillDiscovery.has_value();
    const bool none = loaded && editor_.skillDiscovery->items().empty();
    setVisibleIfChanged(skillsBusy_, !loaded);
    setText(skillCount_, qs(editor_.skillCountLine()));
    skillCount_->setVisible(loaded && !none);
    skills_->setVisible(loaded && !none);
    noSkills_->setVisible(none);
    setText(noSkills_, qs(editor_.noSkillsText()));
    setText(skillHint_, qs(editor_.skillHint()));
    const std::vector<Skill> shown = editor_.shownSkills();
    if (shown != shownSkills_) {
        shownSkills_ = shown;
        skills_->clear();
        for (const Skill& skill : shown) {
            auto* item = new QListWidgetItem(
                skill.summary ? qs(skill.name + " — " + *skill.summary) : qs(skill.name), skills_);
            item->setData(Qt::UserRole, qs(skill.id));
            item->setToolTip(skill.summary ? qs(*skill.summary) : QString());
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        }
    }
    for (int i = 0; i < skills_->count(); ++i) {
        QListWidgetItem* item = skills_->item(i);
        const bool on =
            editor_.draft.enabledSkills.contains(item->data(Qt::UserRole).toString().toStdString());
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
}

void JobEditorWindow::showFooter() {
    const std::optional<std::string> message =
        editor_.footerMessage(clock_(), [this](Instant at) { return when(at).toStdString(); });
    setText(message_, message ? qs(*message) : QString());
    schedule_->setEnabled(editor_.canSchedule());
}

// ---- Background queries ----------------------------------------------------------

void JobEditorWindow::startQueries() {
    const Draft& draft = editor_.draft;
    QPointer<JobEditorWindow> self(this);
    // Whether an answer is still wanted: the window is open and still shows its question.
    auto wanted = [self](std::optional<std::string> JobEditorWindow::*key,
                         const std::string& asked) {
        return self && !self->closing_ && (self.data()->*key) == asked;
    };

    if (const std::string key = draft.modelsKey(); key != modelsKey_) {
        modelsKey_ = key;
        modelsPending_ = true;
        setVisibleIfChanged(modelBusy_, true);
        model_.availableModels(draft.harnessID, draft.endpointID, this,
                               [self, wanted, key](std::vector<ModelOption> models) {
                                   if (!wanted(&JobEditorWindow::modelsKey_, key))
                                       return;
                                   self->editor_.availableModels = std::move(models);
                                   self->modelsPending_ = false;
                                   self->refresh();
                               });
    }
    if (const std::string key = draft.harnessID; key != skillsKey_) {
        skillsKey_ = key;
        editor_.skillDiscovery.reset();
        model_.availableSkills(key, this, [self, wanted, key](Discovery<Skill> skills) {
            if (!wanted(&JobEditorWindow::skillsKey_, key))
                return;
            self->editor_.skillDiscovery = std::move(skills);
            self->refresh();
        });
    }
    // The preview follows what the command line depends on; whether a job can be made
    // at all (a parsable schedule) counts too, so fixing the schedule shows the command.
    const std::optional<Job> job = draft.job(editor_.editingJob(), clock_());
    if (const std::string key = draft.commandKey() + (job ? "|job" : "|none"); key != commandKey_) {
        commandKey_ = key;
        resolvedCommand_ = "resolving\u2026";
        command_->setPlainText(resolvedCommand_);
        model_.resolvedCommand(job, this, [self, wanted, key](std::string text) {
            if (!wanted(&JobEditorWindow::commandKey_, key))
                return;
            self->resolvedCommand_ = qs(text);
            self->refresh();
        });
    }
    const std::string folder =
        draft.workingDirectory ? draft.workingDirectory->fsPath().string() : std::string();
    if (folder != folderKey_) {
        folderKey_ = folder;
        landsInWorktree_.reset();
        if (!folder.empty())
            // Asking git runs a process: never on the window's thread.
            QThreadPool::globalInstance()->start([self, wanted, folder] {
                const bool worktree = RunWorktree::wouldUse(folder);
                QMetaObject::invokeMethod(
                    qApp,
                    [self, wanted, folder, worktree] {
                        if (!wanted(&JobEditorWindow::folderKey_, folder))
                            return;
                        self->landsInWorktree_ = worktree;
                        self->refresh();
                    },
                    Qt::QueuedConnection);
            });
    }
}

// ---- Operations ------------------------------------------------------------------

void JobEditorWindow::chooseFolder() {
    const QString start = editor_.draft.workingDirectory
                              ? qs(editor_.draft.workingDirectory->fsPath().string())
                              : QString();
    if (const std::optional<QString> folder = chooseFolder_(this, start)) {
        editor_.draft.workingDirectory =
            FileUrl::fromPath(std::filesystem::path(folder->toStdString()), true);
        refresh();
    }
}

void JobEditorWindow::save() {
    if (!schedule_->isEnabled())
        return;
    std::optional<Job> job = editor_.jobToSave(clock_());
    if (!job)
        return;
    model_.save(*job);
    closeFinally();
}

void JobEditorWindow::deleteJob() {
    const std::optional<Job>& job = editor_.editingJob();
    if (!job)
        return;
    auto* confirm =
        new QMessageBox(QMessageBox::Warning, "Delete Job",
                        qs("Delete \u201C" + job->name + "\u201D?"), QMessageBox::NoButton, this);
    confirm->setObjectName("confirmDelete");
    confirm->setInformativeText("Its schedule stops and it cannot be brought back.");
    confirm->addButton("Delete", QMessageBox::DestructiveRole);
    confirm->addButton(QMessageBox::Cancel);
    confirm->setAttribute(Qt::WA_DeleteOnClose);
    connect(confirm, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton* button) {
        if (confirm->buttonRole(button) != QMessageBox::DestructiveRole || closing_)
            return;
        model_.deleteJob(*editor_.editingJob());
        closeFinally();
    });
    confirm->open();
}

void JobEditorWindow::closeFinally() {
    closing_ = true;
    close();
}

void JobEditorWindow::closeEvent(QCloseEvent* event) {
    if (closing_ || !hasChanges()) {
        closing_ = true;
        event->accept();
        emit finished();
        return;
    }
    event->ignore();
    auto* ask = new QMessageBox(QMessageBox::Question, "Scheduled Job", "Discard changes?",
                                QMessageBox::NoButton, this);
    ask->setObjectName("confirmDiscard");
    ask->setInformativeText("The changes to this job have not been scheduled.");
    ask->addButton("Discard", QMessageBox::DestructiveRole);
    ask->addButton("Keep Editing", QMessageBox::RejectRole);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    connect(ask, &QMessageBox::buttonClicked, this, [this, ask](QAbstractButton* button) {
        if (ask->buttonRole(button) == QMessageBox::DestructiveRole)
            closeFinally();
    });
    ask->open();
}

} // namespace marrowbell::app
