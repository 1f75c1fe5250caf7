#pragma once

// Qt first: moc cannot read <compare> before Qt's headers.
#include <QAbstractListModel>

#include "panel/JobRow.h"

#include <optional>
#include <vector>

namespace marrowbell::app {

// The panel's job list as one flat list of section headings and job rows, so that a
// thousand jobs cost one view and a painter rather than a thousand widgets.
class JobListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int rowHeight = 46;
    static constexpr int sectionHeight = 31;
    static constexpr int maximumHeight = 340;

    using QAbstractListModel::QAbstractListModel;

    // The active section under `activeTitle`, then "Paused"; an empty section is left out.
    void setSections(const QString& activeTitle, std::vector<JobRow> active,
                     std::vector<JobRow> paused);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The job row at `index`, or null for a section heading.
    const JobRow* jobRow(const QModelIndex& index) const;
    // The same, for an index of any list: null unless it is a JobListModel's.
    static const JobRow* jobRowAt(const QModelIndex& index);
    int jobCount() const { return jobs_; }
    int sectionCount() const { return int(items_.size()) - jobs_; }
    // Whether some row shows a running job (its dot is animated).
    bool anyRunning() const { return running_ > 0; }

    // min(46 × rows + 31 × sections + 6, 340).
    static int listHeight(int rows, int sections);

private:
    struct Item {
        QString section;
        std::optional<JobRow> row;
    };
    std::vector<Item> items_;
    int jobs_ = 0;
    int running_ = 0;
};

} // namespace marrowbell::app
