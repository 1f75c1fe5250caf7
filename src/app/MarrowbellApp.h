#pragma once

#include "AppWindows.h"
#include "model/AppModel.h"
#include "panel/PanelView.h"
#include "panel/StatusItem.h"
#include "platform/AutostartLoginItem.h"
#include "platform/FreedesktopNotifications.h"
#include "platform/SignalTermination.h"

#include <QObject>

namespace marrowbell::app {

// The application: its desktop services, the one model, the status icon with the
// panel, and the editor and settings windows, for the life of the process.
class MarrowbellApp : public QObject {
    Q_OBJECT
public:
    MarrowbellApp();
    ~MarrowbellApp() override;

    void showPanel();

private:
    void updateIcon();

    FreedesktopNotifications notifications_;
    AutostartLoginItem loginItem_;
    SignalTermination termination_;
    AppModel model_;
    PanelView panel_;
    StatusItem status_;
    AppWindows windows_;
};

} // namespace marrowbell::app
