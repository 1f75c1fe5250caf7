#include "panel/JobListModel.h"

#include <algorithm>

namespace marrowbell::app {

void JobListModel::setSections(const QString& activeTitle, std::vector<JobRow> active,
                               std::vector<JobRow> paused) {
    beginResetModel();
    items_.clear();
    items_.reserve(active.size() + paused.size() + 2);
    jobs_ = int(active.size() + paused.size());
    running_ = int(std::count_if(active.begin(), active.end(), [](const JobRow& row) {
        return row.dot == StatusDot::State::running;
    }));
    auto section = [this](const QString& title, std::vector<JobRow>& rows) {
        if (rows.empty())
            return;
        items_.push_back({title, std::nullopt});
        for (auto& row : rows)
            items_.push_back({{}, std::move(row)});
    };
    section(activeTitle, active);
    section(QStringLiteral("Paused"), paused);
    endResetModel();
}

int JobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(items_.size());
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(items_.size()))
        return {};
    const Item& item = items_[std::size_t(index.row())];
    if (!item.row) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return item.section;
        return {};
    }
    const JobRow& row = *item.row;
    switch (role) {
    case Qt::DisplayRole:
        return row.name;
    case Qt::ToolTipRole:
        return row.helpText;
    case Qt::AccessibleTextRole:
        return QStringLiteral("%1, %2, %3, %4")
            .arg(row.name, StatusDot::accessibleText(row.dot), row.subtitle(), row.next);
    case Qt::AccessibleDescriptionRole:
        return row.helpText;
    default:
        return {};
    }
}

Qt::ItemFlags JobListModel::flags(const QModelIndex& index) const {
    if (!jobRow(index))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

const JobRow* JobListModel::jobRow(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= int(items_.size()))
        return nullptr;
    const auto& row = items_[std::size_t(index.row())].row;
    return row ? &*row : nullptr;
}

const JobRow* JobListModel::jobRowAt(const QModelIndex& index) {
    auto* model = qobject_cast<const JobListModel*>(index.model());
    return model ? model->jobRow(index) : nullptr;
}

int JobListModel::listHeight(int rows, int sections) {
    return std::min(rowHeight * rows + sectionHeight * sections + 6, maximumHeight);
}

} // namespace marrowbell::app
