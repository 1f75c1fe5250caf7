#include "panel/Theme.h"

#include <QApplication>
#include <QFontDatabase>

namespace marrowbell::app::Theme {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor ember(const QPalette& palette) {
    return isDark(palette) ? QColor::fromRgbF(0.965f, 0.78f, 0.451f)
                           : QColor::fromRgbF(0.659f, 0.373f, 0.031f);
}

QColor tone(const QPalette& palette, Tone tone) {
    QColor color = palette.color(QPalette::WindowText);
    switch (tone) {
    case Tone::secondary:
        color.setAlphaF(0.6f);
        break;
    case Tone::tertiary:
        color.setAlphaF(0.38f);
        break;
    case Tone::faintest:
        color.setAlphaF(0.22f);
        break;
    }
    return color;
}

QColor success(const QPalette& palette) {
    return isDark(palette) ? QColor(48, 209, 88) : QColor(40, 167, 69);
}

QColor failure(const QPalette& palette) {
    return isDark(palette) ? QColor(255, 105, 97) : QColor(215, 38, 38);
}

QFont font(int pixels, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QFont fixedFont(int pixels) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixels);
    return font;
}

} // namespace marrowbell::app::Theme
