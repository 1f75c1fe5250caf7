#pragma once

#include <QStyledItemDelegate>

namespace marrowbell::app {

// Paints the job list's rows and section headings, and finds the "…" button of a row.
class JobRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Where a row's "…" button is drawn, given the row's rectangle.
    static QRect menuButtonRect(const QRect& row);
    // The angle at which running dots start their arc.
    void setSpinnerAngle(int degrees) { spinnerAngle_ = degrees; }

private:
    int spinnerAngle_ = 0;
};

} // namespace marrowbell::app
