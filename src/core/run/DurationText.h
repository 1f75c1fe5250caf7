#pragma once

#include "base/Instant.h"

#include <string>

namespace marrowbell {

// The compact duration text of run outcomes and records: below a minute the rounded
// seconds ("42s", "0s"); from a minute on, truncated to whole seconds as minutes and
// seconds ("5m 3s", "125m 10s"; there is no hour unit).
std::string readable(Seconds seconds);

} // namespace marrowbell
