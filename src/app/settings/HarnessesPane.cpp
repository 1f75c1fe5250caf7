#include "settings/HarnessesPane.h"

#include "model/AppModel.h"
#include "settings/SettingsLayout.h"

#include "harness/HarnessSummary.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace marrowbell::app {
namespace {

QString qtext(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

HarnessesPane::HarnessesPane(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* column = new QVBoxLayout(this);
    column->addWidget(SettingsLayout::note(
        "Marrowbell starts these tools directly, not through Terminal \u2014 so it finds each one "
        "and sets it up itself. That is what keeps a job working at 7am, and keeps it working "
        "after a tool updates."));
    column->addWidget(SettingsLayout::note(
        "A scheduled run gets no shell, so nothing sets PATH, loads a version manager, or exports "
        "the keys in your profile. Binaries are resolved past their shims to a path that survives "
        "an upgrade, and the environment is built explicitly."));

    auto* list = new QFrame;
    list->setFrameShape(QFrame::StyledPanel);
    list->setBackgroundRole(QPalette::Base);
    list->setAutoFillBackground(true);
    rows_ = new QVBoxLayout(list);
    auto* scroll = new QScrollArea;
    scroll->setWidget(list);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    column->addWidget(scroll, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* redetect = new QPushButton("Re-detect");
    redetect->setObjectName("redetect");
    connect(redetect, &QPushButton::clicked, this, [this] {
        // A tool installed or removed since is found again too.
        model_.refresh();
        model_.refreshHarnessStatus();
    });
    buttons->addWidget(redetect);
    column->addLayout(buttons);

    connect(&model_, &AppModel::harnessStatusChanged, this, &HarnessesPane::showHarnesses);
    connect(&model_, &AppModel::installedHarnessesChanged, this, &HarnessesPane::showHarnesses);
    connect(&model_, &AppModel::registryChanged, this, &HarnessesPane::showHarnesses);
    showHarnesses();
}

void HarnessesPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!resolved_) {
        resolved_ = true;
        model_.refreshHarnessStatus();
    }
}

void HarnessesPane::showHarnesses() {
    while (QLayoutItem* item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const HarnessRegistry* registry = model_.registry();
    if (registry) {
        for (const HarnessSpec& spec : registry->specs()) {
            const auto status = model_.harnessStatus().find(spec.id);
            const bool known = status != model_.harnessStatus().end();
            QString location;
            if (!model_.isInstalled(spec.id))
                location = "not installed";
            else if (known)
                location = QString::fromStdString(status->second.path);
            else
                location = "resolving\u2026";
            const std::string facts = HarnessSummary::line(
                spec, known ? std::optional<int>(int(status->second.skills.size())) : std::nullopt,
                known ? std::optional<int>(int(status->second.models.size())) : std::nullopt);

            auto* row = new QWidget;
            row->setObjectName(QString::fromStdString("harness-" + spec.id));
            auto* lines = new QVBoxLayout(row);
            lines->setContentsMargins(4, 4, 4, 4);
            lines->setSpacing(1);
            auto* name = new QLabel(QString::fromStdString(spec.displayName));
            QFont bold = name->font();
            bold.setBold(true);
            name->setFont(bold);
            lines->addWidget(name);
            auto* where = SettingsLayout::note(location);
            where->setObjectName("location");
            where->setTextInteractionFlags(Qt::TextSelectableByMouse);
            lines->addWidget(where);
            auto* summary = SettingsLayout::note(QString::fromStdString(facts));
            summary->setObjectName("facts");
            lines->addWidget(summary);
            row->setToolTip(qtext(explanation(spec.limitEnforcement)) + "\n\nSkills: " +
                            QString::fromStdString(model_.capabilities(spec).skills));
            row->setAccessibleName(QString::fromStdString(spec.displayName));
            row->setAccessibleDescription(location + ", " + QString::fromStdString(facts));
            rows_->addWidget(row);
        }
    }
    rows_->addStretch(1);
}

} // namespace marrowbell::app
