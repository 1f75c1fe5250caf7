#pragma once

#include "base/Instant.h"
#include "scheduler/OneShotTimer.h"

#include <functional>
#include <memory>

namespace marrowbell {

// One-shot timers whose handlers run one at a time on a single serial executor: the
// scheduler's clock of wake-ups. SerialTimerQueue is the real one; tests drive their
// own so that ticks happen when they say, without waiting for the wall clock.
class TimerQueue {
public:
    virtual ~TimerQueue() = default;

    // A timer that, once started, runs `handler` on the queue `delay` seconds after
    // `start`, with no repetition and no leeway. Takes no lock, so it may be called
    // while the caller holds its own.
    virtual std::unique_ptr<OneShotTimer> makeTimer(Seconds delay,
                                                    std::function<void()> handler) = 0;
};

} // namespace marrowbell
