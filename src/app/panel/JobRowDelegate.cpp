#include "panel/JobRowDelegate.h"

#include "panel/JobListModel.h"
#include "panel/Theme.h"

#include <QApplication>
#include <QPainter>

namespace marrowbell::app {
namespace {

constexpr int padding = 12;
constexpr int dotColumn = 16; // the dot's column, before the name

} // namespace

QRect JobRowDelegate::menuButtonRect(const QRect& row) {
    return {row.right() - padding - 22, row.center().y() - 11, 24, 22};
}

QSize JobRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    bool isRow = JobListModel::jobRowAt(index) != nullptr;
    return {option.rect.width(), isRow ? JobListModel::rowHeight : JobListModel::sectionHeight};
}

void JobRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    // Headings are disabled items; they are drawn in the active colours all the same.
    QPalette palette = option.palette;
    palette.setCurrentColorGroup(QPalette::Active);
    const QRect rect = option.rect;
    const JobRow* row = JobListModel::jobRowAt(index);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (!row) {
        painter->setFont(Theme::font(11, QFont::DemiBold));
        painter->setPen(Theme::tone(palette, Theme::Tone::secondary));
        QRect text = rect.adjusted(padding, 0, -padding, -6);
        painter->drawText(text, Qt::AlignLeft | Qt::AlignBottom,
                          index.data(Qt::DisplayRole).toString().toUpper());
        painter->restore();
        return;
    }

    const bool hovered = option.state & QStyle::State_MouseOver;
    const bool focused =
        (option.state & QStyle::State_HasFocus) || (option.state & QStyle::State_Selected);
    if (hovered || focused) {
        QColor fill = palette.color(QPalette::WindowText);
        fill.setAlphaF(focused ? 0.1f : 0.06f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(QRectF(rect).adjusted(4, 1, -4, -1), 6, 6);
    }

    StatusDot::paint(*painter, QRectF(rect.left() + padding, rect.top(), 8, rect.height()),
                     row->dot, palette, spinnerAngle_);

    const QRect button = menuButtonRect(rect);
    const int textLeft = rect.left() + padding + dotColumn;

    // The next text, right-aligned before the button, in a fixed-width font.
    QFont fixed = Theme::fixedFont(11);
    QFontMetrics fixedMetrics(fixed);
    int nextWidth = fixedMetrics.horizontalAdvance(row->next);
    QRect nextRect(button.left() - 6 - nextWidth, rect.top(), nextWidth, rect.height());
    painter->setFont(fixed);
    painter->setPen(row->dot == StatusDot::State::running
                        ? Theme::ember(palette)
                        : Theme::tone(palette, Theme::Tone::secondary));
    painter->drawText(nextRect, Qt::AlignRight | Qt::AlignVCenter, row->next);

    const int textRight = nextRect.left() - 10;
    const int width = std::max(0, textRight - textLeft);

    QFont nameFont = Theme::font(13, QFont::Medium);
    painter->setFont(nameFont);
    painter->setPen(palette.color(QPalette::WindowText));
    QFontMetrics nameMetrics(nameFont);
    QRect nameRect(textLeft, rect.top() + 6, width, nameMetrics.height());
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(row->name, Qt::ElideRight, width));

    QFont small = Theme::font(11);
    painter->setFont(small);
    QFontMetrics smallMetrics(small);
    QRect subtitleRect(textLeft, nameRect.bottom() + 3, width, smallMetrics.height());
    QString schedule = row->schedule;
    if (!row->permissionLabel.isEmpty())
        schedule += QStringLiteral(" · ");
    QString label = row->permissionLabel;
    int labelWidth = smallMetrics.horizontalAdvance(label);
    QString shownSchedule =
        smallMetrics.elidedText(schedule, Qt::ElideRight, std::max(0, width - labelWidth));
    painter->setPen(Theme::tone(palette, Theme::Tone::secondary));
    painter->drawText(subtitleRect, Qt::AlignLeft | Qt::AlignVCenter, shownSchedule);
    if (!label.isEmpty()) {
        QRect labelRect =
            subtitleRect.adjusted(smallMetrics.horizontalAdvance(shownSchedule), 0, 0, 0);
        painter->setPen(row->fullAccess ? Theme::failure(palette)
                                        : Theme::tone(palette, Theme::Tone::secondary));
        painter->drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter,
                          smallMetrics.elidedText(label, Qt::ElideRight, labelRect.width()));
    }

    // The "…" button: outlined while the row is hovered or focused, so the list stays quiet.
    if (hovered || focused) {
        QColor fill = palette.color(QPalette::WindowText);
        fill.setAlphaF(0.08f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(QRectF(button), 5, 5);
    }
    painter->setFont(Theme::font(14, QFont::DemiBold));
    painter->setPen(Theme::tone(palette, Theme::Tone::secondary));
    painter->drawText(button, Qt::AlignCenter, QStringLiteral("…"));
    painter->restore();
}

} // namespace marrowbell::app
