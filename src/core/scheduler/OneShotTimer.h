#pragma once

namespace marrowbell {

// One armed wake-up of a TimerQueue. It fires at most once, and only after `start`;
// `cancel` before it fires (even before `start`) means it never fires. Both may be
// called from any thread; a handler already running is not interrupted.
class OneShotTimer {
public:
    virtual ~OneShotTimer() = default;
    virtual void start() = 0;
    virtual void cancel() = 0;
};

} // namespace marrowbell
