#pragma once

#include "base/Subscription.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace marrowbell {

// Follows folders for entries that other processes (or this one) create, replace,
// edit, remove or re-permission, with inotify, on one thread of its own that sleeps
// in poll(2) until something happens: an idle watcher costs no wake-up.
//
// Events are read in batches: everything the kernel queued while the handlers of the
// previous batch ran is read at once and handed over as one set of names per folder,
// each name once, so a burst of writes costs one call. A folder watched twice (by two
// stores sharing the support folder) is watched once by the kernel.
//
// Handlers run on the watcher's thread, one at a time. Destroying a Subscription
// stops its handler: from another thread it first waits for the batch being handed
// over; from inside a handler it returns at once. The watcher may be destroyed before
// its subscriptions.
class FileWatcher {
public:
    struct Changes {
        // Names of the entries of the folder that changed, in the order first seen.
        std::vector<std::string> names;
        // Anything may have changed: the kernel dropped events (its queue overflowed),
        // or this is the subscription's first batch.
        bool overflowed = false;

        // Whether the entry `name` may have changed.
        bool touches(std::string_view name) const {
            return overflowed || std::find(names.begin(), names.end(), name) != names.end();
        }
    };
    using Handler = std::function<void(const Changes&)>;

    // Throws std::system_error when inotify is not available.
    FileWatcher();
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // Calls `handler` with the changes in `folder` (not its sub-folders), first with
    // `overflowed` set, so that it catches up with what changed before. Throws
    // std::system_error when the folder cannot be watched (missing, not a folder, the
    // user's limit of watches reached).
    [[nodiscard]] Subscription watch(const std::filesystem::path& folder, Handler handler);

private:
    struct Shared;
    void run();

    std::shared_ptr<Shared> shared_;
    std::thread worker_;
};

} // namespace marrowbell
