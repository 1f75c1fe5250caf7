// The desktop application: one per user session, living in the tray (or a window
// where there is none) until the user quits it.
#include "MarrowbellApp.h"
#include "panel/SingleInstance.h"
#include "panel/StatusIcons.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Answered before Qt starts, so it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("marrowbell %s\n", MARROWBELL_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Marrowbell"));
    QApplication::setDesktopFileName(QStringLiteral("app.marrowbell.Marrowbell"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(marrowbell::app::StatusIcons::application());

    // A second launch shows the first one's panel and leaves, running nothing.
    marrowbell::app::SingleInstance instance;
    if (!instance.claim()) {
        if (instance.showFirst())
            return 0;
        std::fputs("Marrowbell is already running but does not answer.\n", stderr);
        return 1;
    }

    marrowbell::app::MarrowbellApp marrowbell;
    QObject::connect(&instance, &marrowbell::app::SingleInstance::showRequested, &marrowbell,
                     &marrowbell::app::MarrowbellApp::showPanel);
    return app.exec();
}
