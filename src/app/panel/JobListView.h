#pragma once

// Qt first: moc cannot read <compare> before Qt's headers.
#include <QListView>
#include <QTimer>

#include "job/Job.h"
#include "panel/JobListModel.h"

namespace marrowbell::app {

class JobRowDelegate;

// The scrolling list of jobs: a click or Enter on a row asks to edit the job; its "…"
// button, a right click or the menu key ask for the row's action menu. Its height
// follows the rows it holds, up to a cap. Running dots spin only while the list is
// shown.
class JobListView : public QListView {
    Q_OBJECT
public:
    explicit JobListView(QWidget* parent = nullptr);

    JobListModel& rows() { return rows_; }
    void setSections(const QString& activeTitle, std::vector<JobRow> active,
                     std::vector<JobRow> paused);
    QSize sizeHint() const override;

signals:
    void editRequested(const marrowbell::Job& job);
    void menuRequested(const marrowbell::Job& job, const QPoint& globalPosition);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateSpinner();
    void requestMenu(const QModelIndex& index, const QPoint& globalPosition);

    JobListModel rows_;
    JobRowDelegate* delegate_;
    QTimer spinner_;
    int angle_ = 0;
    bool pressedOnButton_ = false;
};

} // namespace marrowbell::app
