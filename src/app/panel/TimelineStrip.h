#pragma once

// Qt first: moc cannot read <compare> before Qt's headers.
#include <QRectF>
#include <QWidget>

#include "job/ScheduleTimeline.h"

#include <optional>

namespace marrowbell::app {

// The runs of the next 24 hours: a summary line, then a rail with one tick per run
// (the coming hour's taller and in the accent colour) and the hour grid beneath it.
// Each tick's tooltip names its job and time.
class TimelineStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr double railHeight = 22;

    explicit TimelineStrip(QWidget* parent = nullptr);

    void setTimeline(ScheduleTimeline timeline);
    const ScheduleTimeline& timeline() const { return timeline_; }

    // Where the mark's tick is drawn, in the widget's coordinates.
    QRectF tickRect(const ScheduleTimeline::Mark& mark) const;
    // The tooltip of the mark's tick: "Nightly review — Mon 9:00 AM".
    static QString tickToolTip(const ScheduleTimeline::Mark& mark);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    double railTop() const;
    std::optional<ScheduleTimeline::Mark> markAt(const QPointF& point) const;

    ScheduleTimeline timeline_;
    std::vector<ScheduleTimeline::GridLabel> grid_;
};

} // namespace marrowbell::app
