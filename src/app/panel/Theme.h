#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace marrowbell::app {

// The colours and fonts the windows share, derived from the palette in force so they
// follow the desktop's light or dark appearance.
namespace Theme {

// Dark when the window colour is closer to black than to white.
bool isDark(const QPalette& palette);
// The accent, "ember": sRGB (0.659, 0.373, 0.031) in light, (0.965, 0.78, 0.451) in dark.
QColor ember(const QPalette& palette);

// Text tones, strongest first: the window text faded over the window colour.
enum class Tone { secondary, tertiary, faintest };
QColor tone(const QPalette& palette, Tone tone);

QColor success(const QPalette& palette);
QColor failure(const QPalette& palette);

// The application font at a size in device-independent pixels, the unit of every
// size in the windows.
QFont font(int pixels, QFont::Weight weight = QFont::Normal);
QFont fixedFont(int pixels);

} // namespace Theme
} // namespace marrowbell::app
