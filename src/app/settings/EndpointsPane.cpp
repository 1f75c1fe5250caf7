#include "settings/EndpointsPane.h"

#include "model/AppModel.h"
#include "settings/SettingsLayout.h"
#include "settings/SettingsText.h"

#include "base/StoreError.h"
#include "endpoint/SecretStore.h"
#include "service/EndpointService.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

namespace marrowbell::app {
namespace {

QString qtext(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A row: the status dot and the name, the address beneath, and which jobs use it in
// small secondary text.
class EndpointRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        background.icon = {};
        QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;
        const QColor primary = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        QColor secondary = primary;
        secondary.setAlphaF(0.65);

        const QRect area = option.rect.adjusted(padding, padding, -padding, -padding);
        const QFontMetrics nameMetrics(option.font);
        const QFont small = smallFont(option.font);
        const QFontMetrics smallMetrics(small);

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF dot(area.left() + 0.5,
                         area.top() + (nameMetrics.height() - dotSize) / 2.0 + 0.5, dotSize,
                         dotSize);
        paintDot(*painter, dot, EndpointsPane::Dot(index.data(EndpointsPane::dotRole).toInt()),
                 palette, selected);

        const int textLeft = area.left() + dotSize + 8;
        const int width = area.right() - textLeft;
        int top = area.top();
        painter->setPen(primary);
        painter->setFont(option.font);
        painter->drawText(QRect(textLeft, top, width, nameMetrics.height()), Qt::AlignLeft,
                          nameMetrics.elidedText(index.data().toString(), Qt::ElideRight, width));
        top += nameMetrics.height();
        painter->setPen(secondary);
        painter->setFont(small);
        for (int role : {int(EndpointsPane::urlRole), int(EndpointsPane::usedByRole)}) {
            painter->drawText(
                QRect(textLeft, top, width, smallMetrics.height()), Qt::AlignLeft,
                smallMetrics.elidedText(index.data(role).toString(), Qt::ElideRight, width));
            top += smallMetrics.height();
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const int height = QFontMetrics(option.font).height() +
                           2 * QFontMetrics(smallFont(option.font)).height() + 2 * padding;
        return {200, height};
    }

private:
    static constexpr int padding = 6;
    static constexpr double dotSize = 7;

    static QFont smallFont(QFont font) {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * 0.85);
        else
            font.setPixelSize(std::max(8, font.pixelSize() * 85 / 100));
        return font;
    }

    // Green for an endpoint that answered, red for one that did not or refused the
    // key, a faint ring for one not checked in this window.
    static void paintDot(QPainter& painter, const QRectF& rect, EndpointsPane::Dot dot,
                         const QPalette& palette, bool selected) {
        switch (dot) {
        case EndpointsPane::Dot::reachable:
        case EndpointsPane::Dot::failed:
            painter.setPen(Qt::NoPen);
            painter.setBrush(dot == EndpointsPane::Dot::reachable ? QColor(0x2e, 0xa0, 0x43)
                                                                  : QColor(0xd7, 0x3a, 0x31));
            painter.drawEllipse(rect);
            return;
        case EndpointsPane::Dot::neverChecked: {
            QColor faint = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
            faint.setAlphaF(0.35);
            painter.setPen(QPen(faint, 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(rect.adjusted(0.75, 0.75, -0.75, -0.75));
            return;
        }
        }
    }
};

std::optional<Endpoint> storedEndpoint(const AppModel& model, const Uuid& id) {
    for (const Endpoint& endpoint : model.endpoints())
        if (endpoint.id == id)
            return endpoint;
    return std::nullopt;
}

} // namespace

EndpointsPane::EndpointsPane(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , testAllAnswers_(new QObject(this))
    , recheckAnswers_(new QObject(this)) {
    auto* row = new QHBoxLayout(this);
    row->addWidget(listSide(), 2);
    row->addWidget(editorSide(), 3);
    connect(&model_, &AppModel::endpointsChanged, this, [this] {
        showList();
        showEditor();
    });
    connect(&model_, &AppModel::jobsChanged, this, [this] {
        showList();
        showEditor();
    });
    showList();
    showEditor();
}

QWidget* EndpointsPane::listSide() {
    auto* side = new QWidget;
    auto* column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);
    auto* heading = new QLabel("Configured endpoints");
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    column->addWidget(heading);

    list_ = new QListWidget;
    list_->setObjectName("endpointList");
    list_->setAccessibleName("Configured endpoints");
    list_->setItemDelegate(new EndpointRowDelegate(list_));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setUniformItemSizes(true);
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        const auto items = list_->selectedItems();
        select(items.isEmpty() ? std::nullopt
                               : Uuid::parse(items.front()->data(idRole).toString().toStdString()));
    });
    column->addWidget(list_, 1);

    auto* buttons = new QHBoxLayout;
    auto button = [this](const char* name, const QString& symbol, const char* icon,
                         const QString& purpose, void (EndpointsPane::*action)()) {
        auto* button = new QToolButton;
        button->setObjectName(name);
        button->setText(symbol);
        button->setIcon(QIcon::fromTheme(icon));
        button->setToolTip(purpose);
        button->setAccessibleName(purpose);
        connect(button, &QToolButton::clicked, this, action);
        return button;
    };
    add_ = button("addEndpoint", "+", "list-add", "Add an endpoint", &EndpointsPane::addEndpoint);
    remove_ = button("removeEndpoint", "\u2212", "list-remove", "Delete the endpoint and its key",
                     &EndpointsPane::deleteSelected);
    testAll_ = new QPushButton("Test all");
    testAll_->setObjectName("testAll");
    connect(testAll_, &QPushButton::clicked, this, &EndpointsPane::testAll);
    buttons->addWidget(add_);
    buttons->addWidget(remove_);
    buttons->addStretch(1);
    buttons->addWidget(testAll_);
    column->addLayout(buttons);

    problem_ = SettingsLayout::problem("endpointProblem");
    column->addWidget(problem_);
    return side;
}

QWidget* EndpointsPane::editorSide() {
    editor_ = new QStackedWidget;
    auto* placeholder = new QLabel("Select an endpoint to edit it.");
    placeholder->setObjectName("noSelection");
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setForegroundRole(QPalette::PlaceholderText);
    editor_->addWidget(placeholder);

    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    form_ = new QFormLayout;
    SettingsLayout::styleForm(*form_);
    column->addLayout(form_);
    column->addStretch(1);

    name_ = new QLineEdit;
    name_->setObjectName("endpointName");
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& name) {
        changeSelected([name = name.toStdString()](Endpoint& endpoint) { endpoint.name = name; });
    });
    form_->addRow("Name", name_);

    auto* urlColumn = new QWidget;
    auto* urlLayout = new QVBoxLayout(urlColumn);
    urlLayout->setContentsMargins(0, 0, 0, 0);
    url_ = new QLineEdit;
    url_->setObjectName("endpointURL");
    url_->setAccessibleName("Base URL");
    connect(url_, &QLineEdit::returnPressed, this, &EndpointsPane::commitURL);
    urlLayout->addWidget(url_);
    urlLayout->addWidget(SettingsLayout::note(
        "Include the scheme and any path the server expects \u2014 the port is part of this."));
    urlError_ = SettingsLayout::problem("endpointURLError");
    urlLayout->addWidget(urlError_);
    form_->addRow("Base URL", urlColumn);

    kind_ = new QComboBox;
    kind_->setObjectName("endpointKind");
    for (EndpointKind kind : allEndpointKinds)
        kind_->addItem(qtext(displayName(kind)), qtext(rawValue(kind)));
    connect(kind_, &QComboBox::activated, this, [this](int index) {
        const auto kind = endpointKind(kind_->itemData(index).toString().toStdString());
        if (kind)
            changeSelected([kind](Endpoint& endpoint) { endpoint.kind = *kind; });
    });
    form_->addRow("Kind", kind_);

    auto* keyColumn = new QWidget;
    keyColumn->setObjectName("apiKeyRow");
    auto* keyLayout = new QVBoxLayout(keyColumn);
    keyLayout->setContentsMargins(0, 0, 0, 0);
    apiKey_ = new QLineEdit;
    apiKey_->setObjectName("endpointAPIKey");
    apiKey_->setAccessibleName("API key");
    // A secret: shown as dots, never copied, cut or dragged out, never offered to an
    // input method's history.
    apiKey_->setEchoMode(QLineEdit::Password);
    apiKey_->setDragEnabled(false);
    apiKey_->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                 Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    apiKey_->setPlaceholderText("Press Enter to save");
    connect(apiKey_, &QLineEdit::returnPressed, this, &EndpointsPane::saveKey);
    keyLayout->addWidget(apiKey_);
    apiKeyHint_ = SettingsLayout::note({});
    apiKeyHint_->setObjectName("apiKeyHint");
    keyLayout->addWidget(apiKeyHint_);
    form_->addRow("API key", keyColumn);

    status_ = new QLabel;
    status_->setObjectName("endpointStatus");
    status_->setWordWrap(true);
    form_->addRow("Status", status_);
    models_ = new QLabel;
    models_->setObjectName("endpointModels");
    models_->setWordWrap(true);
    models_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form_->addRow("Models", models_);
    usedBy_ = new QLabel;
    usedBy_->setObjectName("endpointUsedBy");
    usedBy_->setWordWrap(true);
    form_->addRow("Used by", usedBy_);

    editor_->addWidget(page);
    return editor_;
}

void EndpointsPane::select(const std::optional<Uuid>& id) {
    if (id == selection_)
        return;
    selection_ = id;
    draft_ = id ? storedEndpoint(model_, *id) : std::nullopt;
    if (!draft_)
        selection_.reset();
    {
        const QSignalBlocker quiet(list_);
        for (int row = 0; row < list_->count(); ++row) {
            QListWidgetItem* item = list_->item(row);
            item->setSelected(selection_ && item->data(idRole).toString() ==
                                                QString::fromStdString(selection_->text()));
        }
    }
    urlError_->hide();
    if (draft_) {
        name_->setText(QString::fromStdString(draft_->name));
        url_->setText(QString::fromStdString(draft_->baseURL.absoluteString));
        apiKey_->setText(
            QString::fromStdString(SecretStore::shared().secret(draft_->id).value_or("")));
    } else {
        name_->clear();
        url_->clear();
        apiKey_->clear();
    }
    showEditor();
}

void EndpointsPane::addEndpoint() {
    const auto suggestion = model_.newEndpointTemplate();
    const auto& store = model_.endpointStore();
    if (!suggestion || !store)
        return;
    const auto url = Url::parse(suggestion->baseURL);
    Endpoint endpoint{Uuid::random(), "New endpoint", url.value_or(Url{suggestion->baseURL}),
                      EndpointKind::openAICompatible};
    try {
        store->save(endpoint);
        showProblem(std::nullopt);
    } catch (const StoreError& error) {
        showProblem(error.what());
        return;
    }
    model_.refresh();
    select(endpoint.id);
}

void EndpointsPane::deleteSelected() {
    const auto& store = model_.endpointStore();
    if (!draft_ || !store)
        return;
    try {
        // The key goes first; when it cannot, the endpoint stays, so no key is left
        // behind that nothing would ever reach again.
        EndpointService(store, SecretStore::shared()).remove(*draft_, model_.jobs());
        showProblem(std::nullopt);
    } catch (const std::exception& error) {
        showProblem(error.what());
        return;
    }
    statuses_.erase(draft_->id);
    model_.refresh();
    select(std::nullopt);
}

void EndpointsPane::testAll() {
    if (isChecking_)
        return;
    pending_.assign(model_.endpoints().begin(), model_.endpoints().end());
    setChecking(true);
    checkNextPending();
}

void EndpointsPane::checkNextPending() {
    if (pending_.empty()) {
        setChecking(false);
        return;
    }
    const Endpoint endpoint = pending_.front();
    pending_.pop_front();
    check(endpoint, testAllAnswers_, true);
}

void EndpointsPane::check(const Endpoint& endpoint, QObject* receiver, bool continueTestAll) {
    model_.checkEndpoint(endpoint, receiver,
                         [this, endpoint, continueTestAll](EndpointStatus status) {
                             // An answer about an address the endpoint no longer has says nothing
                             // about it.
                             const auto current = storedEndpoint(model_, endpoint.id);
                             if (current && current->baseURL == endpoint.baseURL) {
                                 statuses_[endpoint.id] = std::move(status);
                                 showList();
                                 showStatus();
                             }
                             if (continueTestAll)
                                 checkNextPending();
                         });
}

void EndpointsPane::commitURL() {
    if (!draft_)
        return;
    // An unchanged address is left alone, even one another program wrote that the rule refuses.
    if (url_->text().toStdString() == draft_->baseURL.absoluteString) {
        urlError_->hide();
        return;
    }
    const auto typed = Endpoint::acceptedAddress(url_->text().toStdString());
    if (!typed.url) {
        urlError_->setText(qtext(invalidEndpointAddressMessage));
        urlError_->show();
        return;
    }
    const Url url = *typed.url;
    urlError_->hide();
    url_->setText(QString::fromStdString(url.absoluteString));
    if (url == draft_->baseURL)
        return;
    statuses_.erase(draft_->id);
    changeSelected([&url](Endpoint& endpoint) { endpoint.baseURL = url; });
    if (draft_ && draft_->baseURL == url)
        check(*draft_, recheckAnswers_, false);
}

void EndpointsPane::changeSelected(const std::function<void(Endpoint&)>& change) {
    const auto& store = model_.endpointStore();
    if (!selection_ || !store)
        return;
    // The stored endpoint, not the draft: what another program changed meanwhile is kept.
    std::optional<Endpoint> endpoint = store->endpoint(selection_);
    if (!endpoint) {
        model_.refresh();
        return;
    }
    change(*endpoint);
    try {
        store->save(*endpoint);
        draft_ = endpoint;
        showProblem(std::nullopt);
    } catch (const StoreError& error) {
        showProblem(error.what());
    }
    model_.refresh();
    showEditor();
}

void EndpointsPane::saveKey() {
    const auto& store = model_.endpointStore();
    if (!draft_ || !store)
        return;
    try {
        EndpointService(store, SecretStore::shared())
            .setKey(*draft_, apiKey_->text().toStdString());
        showProblem(std::nullopt);
    } catch (const SecretStore::Failure& failure) {
        showProblem(failure.what());
    }
}

void EndpointsPane::cancelChecks() {
    delete testAllAnswers_;
    delete recheckAnswers_;
    testAllAnswers_ = new QObject(this);
    recheckAnswers_ = new QObject(this);
    pending_.clear();
    setChecking(false);
    statuses_.clear();
    if (draft_)
        apiKey_->setText(
            QString::fromStdString(SecretStore::shared().secret(draft_->id).value_or("")));
    showList();
    showStatus();
}

void EndpointsPane::showList() {
    const QSignalBlocker quiet(list_);
    list_->clear();
    for (const Endpoint& endpoint : model_.endpoints()) {
        auto* item = new QListWidgetItem(QString::fromStdString(endpoint.name), list_);
        const QString usedBy = QString::fromStdString(
            SettingsText::usedBy(EndpointStore::jobsDepending(endpoint.id, model_.jobs())));
        const QString url = QString::fromStdString(endpoint.baseURL.absoluteString);
        item->setData(idRole, QString::fromStdString(endpoint.id.text()));
        item->setData(urlRole, url);
        item->setData(usedByRole, usedBy);
        const auto status = statuses_.find(endpoint.id);
        const Dot dot = status == statuses_.end()      ? Dot::neverChecked
                        : status->second.isReachable() ? Dot::reachable
                                                       : Dot::failed;
        item->setData(dotRole, int(dot));
        const QString summary = status == statuses_.end()
                                    ? QStringLiteral("not checked")
                                    : QString::fromStdString(status->second.summary());
        item->setData(Qt::AccessibleDescriptionRole, url + ", " + summary + ", used by " + usedBy);
        item->setToolTip(summary);
        item->setSelected(selection_ == endpoint.id);
    }
    remove_->setEnabled(selection_.has_value() && model_.endpointStore());
    add_->setEnabled(model_.newEndpointTemplate().has_value() && model_.endpointStore());
    testAll_->setEnabled(!isChecking_ && list_->count() > 0);
}

void EndpointsPane::showEditor() {
    if (selection_ && !storedEndpoint(model_, *selection_)) {
        // Deleted elsewhere, by another program.
        select(std::nullopt);
        return;
    }
    remove_->setEnabled(selection_.has_value() && model_.endpointStore());
    editor_->setCurrentIndex(draft_ ? 1 : 0);
    if (!draft_)
        return;
    if (const auto stored = storedEndpoint(model_, draft_->id)) {
        // Another program's change reaches the fields the user is not typing in.
        draft_ = stored;
        if (!name_->hasFocus() && name_->text().toStdString() != draft_->name)
            name_->setText(QString::fromStdString(draft_->name));
        if (!url_->hasFocus() && urlError_->isHidden())
            url_->setText(QString::fromStdString(draft_->baseURL.absoluteString));
    }
    {
        const QSignalBlocker quiet(kind_);
        kind_->setCurrentIndex(kind_->findData(qtext(rawValue(draft_->kind))));
    }
    form_->setRowVisible(apiKey_->parentWidget(), mayNeedAPIKey(draft_->kind));
    const HarnessRegistry* registry = model_.registry();
    apiKeyHint_->setText(QString::fromStdString(
        SettingsText::apiKeyHint(SecretStore::shared().backend(),
                                 registry ? registry->specs() : std::vector<HarnessSpec>{})));
    usedBy_->setText(QString::fromStdString(
        SettingsText::usedBy(EndpointStore::jobsDepending(draft_->id, model_.jobs()))));
    showStatus();
}

void EndpointsPane::showStatus() {
    if (!draft_)
        return;
    const auto status = statuses_.find(draft_->id);
    status_->setText(status == statuses_.end() ? QStringLiteral("not checked")
                                               : QString::fromStdString(status->second.summary()));
    const std::vector<std::string> models =
        status == statuses_.end() ? std::vector<std::string>{} : status->second.models();
    models_->setText(QString::fromStdString(SettingsText::modelsLine(models)));
    form_->setRowVisible(models_, !models.empty());
}

void EndpointsPane::showProblem(const std::optional<std::string>& message) {
    problem_->setText(message ? QString::fromStdString(*message) : QString());
    problem_->setVisible(message.has_value());
}

void EndpointsPane::setChecking(bool checking) {
    isChecking_ = checking;
    testAll_->setText(checking ? "Checking\u2026" : "Test all");
    testAll_->setEnabled(!checking && list_->count() > 0);
}

} // namespace marrowbell::app
