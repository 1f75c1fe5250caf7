#include "base/Instant.h"

#include <ctime>

namespace marrowbell {

Instant Instant::now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return fromUnix(static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9);
}

} // namespace marrowbell
