#include "settings/SettingsLayout.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

namespace marrowbell::app::SettingsLayout {

void section(QFormLayout& form, const QString& title) {
    auto* heading = new QLabel(title);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
    if (form.rowCount() > 0)
        heading->setContentsMargins(0, 10, 0, 0);
    form.addRow(heading);
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

QLabel* problem(const char* objectName) {
    auto* label = new QLabel;
    label->setObjectName(objectName);
    label->setWordWrap(true);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, QColor(0xd7, 0x3a, 0x31));
    label->setPalette(red);
    label->hide();
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
