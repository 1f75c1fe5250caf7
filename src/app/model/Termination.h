#pragma once

#include <QObject>

namespace marrowbell::app {

// Tells the model that the application is about to end (quit from the panel, the
// session logging out, a stop signal), in time to stop its runs and write the history.
class Termination : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // Emitted once, on the main thread, before the application ends.
    void willTerminate();
};

} // namespace marrowbell::app
