#include "panel/JobListView.h"

#include "panel/JobRowDelegate.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace marrowbell::app {

JobListView::JobListView(QWidget* parent)
    : QListView(parent)
    , delegate_(new JobRowDelegate(this)) {
    setModel(&rows_);
    setItemDelegate(delegate_);
    setObjectName(QStringLiteral("jobList"));
    setAccessibleName(QStringLiteral("Jobs"));
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(false);
    setMouseTracking(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    spinner_.setInterval(80);
    connect(&spinner_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        delegate_->setSpinnerAngle(angle_);
        viewport()->update();
    });
}

void JobListView::setSections(const QString& activeTitle, std::vector<JobRow> active,
                              std::vector<JobRow> paused) {
    rows_.setSections(activeTitle, std::move(active), std::move(paused));
    setFixedHeight(JobListModel::listHeight(rows_.jobCount(), rows_.sectionCount()));
    updateSpinner();
}

QSize JobListView::sizeHint() const {
    return {QListView::sizeHint().width(),
            JobListModel::listHeight(rows_.jobCount(), rows_.sectionCount())};
}

void JobListView::keyPressEvent(QKeyEvent* event) {
    if (const JobRow* row = rows_.jobRow(currentIndex())) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            emit editRequested(row->job);
            return;
        }
    }
    QListView::keyPressEvent(event);
}

void JobListView::mousePressEvent(QMouseEvent* event) {
    QModelIndex index = indexAt(event->position().toPoint());
    pressedOnButton_ =
        rows_.jobRow(index) &&
        JobRowDelegate::menuButtonRect(visualRect(index)).contains(event->position().toPoint());
    if (pressedOnButton_ && event->button() == Qt::LeftButton) {
        setCurrentIndex(index);
        QRect button = JobRowDelegate::menuButtonRect(visualRect(index));
        requestMenu(index, viewport()->mapToGlobal(button.bottomLeft()));
        return;
    }
    QListView::mousePressEvent(event);
}

void JobListView::mouseReleaseEvent(QMouseEvent* event) {
    QListView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || pressedOnButton_)
        return;
    if (const JobRow* row = rows_.jobRow(indexAt(event->position().toPoint())))
        emit editRequested(row->job);
}

void JobListView::contextMenuEvent(QContextMenuEvent* event) {
    QModelIndex index =
        event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : currentIndex();
    if (!rows_.jobRow(index))
        return;
    setCurrentIndex(index);
    QPoint at = event->reason() == QContextMenuEvent::Mouse
                    ? event->globalPos()
                    : viewport()->mapToGlobal(
                          JobRowDelegate::menuButtonRect(visualRect(index)).bottomLeft());
    requestMenu(index, at);
}

void JobListView::requestMenu(const QModelIndex& index, const QPoint& globalPosition) {
    if (const JobRow* row = rows_.jobRow(index))
        emit menuRequested(row->job, globalPosition);
}

void JobListView::showEvent(QShowEvent* event) {
    QListView::showEvent(event);
    updateSpinner();
}

void JobListView::hideEvent(QHideEvent* event) {
    QListView::hideEvent(event);
    updateSpinner();
}

void JobListView::updateSpinner() {
    if (isVisible() && rows_.anyRunning())
        spinner_.start();
    else
        spinner_.stop();
}

} // namespace marrowbell::app
