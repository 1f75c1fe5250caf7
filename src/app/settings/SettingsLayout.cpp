#include "settings/SettingsLayout.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace marrowbell::app::SettingsLayout {

QFormLayout* section(QVBoxLayout& column, const QString& title) {
    if (column.count() > 0)
        column.addSpacing(14);
    auto* heading = new QLabel(title);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
    heading->setAccessibleName(title);
    column.addWidget(heading);
    auto* form = new QFormLayout;
    styleForm(*form);
    form->setContentsMargins(12, 4, 0, 0);
    column.addLayout(form);
    return form;
}

QLabel* note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    return label;
}

QWidget* warning(const QString& text, QWidget* parent) {
    auto* line = new QWidget(parent);
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* sign = new QLabel;
    const int size = line->style()->pixelMetric(QStyle::PM_SmallIconSize);
    sign->setPixmap(line->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
    sign->setAlignment(Qt::AlignTop);
    layout->addWidget(sign);
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    layout->addWidget(label, 1);
    return line;
}

void styleForm(QFormLayout& form) {
    form.setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form.setRowWrapPolicy(QFormLayout::DontWrapRows);
    form.setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form.setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
}

} // namespace marrowbell::app::SettingsLayout
