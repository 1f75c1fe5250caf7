#pragma once

#include "model/Termination.h"

class QSocketNotifier;

namespace marrowbell::app {

// The application's end as the model must hear of it: QCoreApplication::aboutToQuit,
// and SIGTERM, SIGINT and SIGHUP (the session logging out) turned into an orderly quit
// of the event loop. Create one, on the main thread, after the QCoreApplication; only
// one may exist at a time.
class SignalTermination : public Termination {
    Q_OBJECT

public:
    explicit SignalTermination(QObject* parent = nullptr);
    ~SignalTermination() override;

private:
    // Tells the model, once.
    void terminate();

    int readFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    bool emitted_ = false;
};

} // namespace marrowbell::app
