#pragma once

#include "model/LoginItem.h"
#include "model/NotificationCenter.h"
#include "model/Termination.h"

#include "base/Instant.h"

#include <functional>

namespace marrowbell::app {

// The desktop services the application model uses; each may be null (no notifications,
// no login item, only QCoreApplication::aboutToQuit for the end). Not owned; they must
// outlive the model. `clock` is the present the model shows (its timeline, derived
// values, pause stamps); empty for Instant::now. Runs are always timed by the real one.
struct AppPlatform {
    NotificationCenter* notifications = nullptr;
    LoginItem* loginItem = nullptr;
    Termination* termination = nullptr;
    std::function<Instant()> clock = {};
};

} // namespace marrowbell::app
