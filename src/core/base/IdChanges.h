#pragma once

#include "base/Uuid.h"

#include <vector>

namespace marrowbell {

// What changed in a store of records keyed by identifier: the records added or
// replaced, and those removed. Observers read the records themselves from the store.
struct IdChanges {
    std::vector<Uuid> saved;
    std::vector<Uuid> removed;

    bool empty() const { return saved.empty() && removed.empty(); }
};

} // namespace marrowbell
