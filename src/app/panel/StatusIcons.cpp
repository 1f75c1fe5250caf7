#include "panel/StatusIcons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace marrowbell::app::StatusIcons {
namespace {

// Symbolic drawings are monochrome; they take the text colour, so they read on light
// and dark panels alike.
QIcon tinted(const QString& resource, const QColor& color) {
    QSvgRenderer renderer(resource);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon status(const QString& state, const QPalette& palette) {
    QString name = QStringLiteral("marrowbell-") + state;
    return symbol(name, name, palette);
}

QIcon symbol(const QString& name, const QString& themeName, const QPalette& palette) {
    if (QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    return tinted(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"),
                  palette.color(QPalette::WindowText));
}

QIcon application() {
    return QIcon::fromTheme(QStringLiteral("app.marrowbell.Marrowbell"),
                            QIcon(QStringLiteral(":/icons/hicolor/scalable/apps/marrowbell.svg")));
}

} // namespace marrowbell::app::StatusIcons
