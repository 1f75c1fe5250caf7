#pragma once

#include <QString>

class QFormLayout;
class QLabel;
class QWidget;

namespace marrowbell::app::SettingsLayout {

// Starts a titled section in `form`: a heading across both columns, set apart from
// the section before.
void section(QFormLayout& form, const QString& title);
// Secondary text that wraps: notes, captions and hints.
QLabel* note(const QString& text, QWidget* parent = nullptr);
// A message in red that wraps, hidden until given a text: what went wrong.
QLabel* problem(const char* objectName);
// A line with the warning sign before it.
QWidget* warning(const QString& text, QWidget* parent = nullptr);
// The form's layout for a window of this desktop: labels right of the column's edge
// on every style, fields that grow.
void styleForm(QFormLayout& form);

} // namespace marrowbell::app::SettingsLayout
