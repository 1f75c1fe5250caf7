#pragma once

#include "model/LoginItem.h"
#include "model/NotificationCenter.h"
#include "model/Termination.h"

namespace marrowbell::app {

// The desktop services the application model uses; each may be null (no notifications,
// no login item, only QCoreApplication::aboutToQuit for the end). Not owned; they must
// outlive the model.
struct AppPlatform {
    NotificationCenter* notifications = nullptr;
    LoginItem* loginItem = nullptr;
    Termination* termination = nullptr;
};

} // namespace marrowbell::app
