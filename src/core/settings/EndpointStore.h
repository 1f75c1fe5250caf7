#pragma once

#include "base/FileWatcher.h"
#include "base/IdChanges.h"
#include "base/ObserverList.h"
#include "base/Subscription.h"
#include "base/Uuid.h"
#include "endpoint/Endpoint.h"
#include "job/Job.h"
#include "settings/StoredValue.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace marrowbell {

// The configured endpoints, in the user's order of creation, kept in
// "endpoints.json" (one pretty-printed JSON array). The file is read at creation, and
// again whenever another process replaces it once the store `follow`s it: a missing,
// unreadable or undecodable file (a single malformed endpoint is enough) gives an
// empty list and stays on disk untouched until the next change rewrites it. Every
// change rewrites the whole file atomically; write failures are ignored. Observers
// are told which endpoints were saved or removed, by this process or another. Safe
// to share between threads.
class EndpointStore {
public:
    // Creates the file's folder when missing (throwing std::filesystem::filesystem_error
    // when it cannot), then loads the file.
    explicit EndpointStore(std::filesystem::path file);

    // The support folder's "endpoints.json"; throws when there is no support folder.
    static std::filesystem::path defaultFileURL();

    const std::filesystem::path& fileURL() const { return stored_.file(); }

    std::vector<Endpoint> endpoints() const;
    // The first endpoint with that identifier; none for none or an unknown one.
    std::optional<Endpoint> endpoint(const std::optional<Uuid>& id) const;

    // Replaces the endpoint with the same identifier in place, or appends it.
    void save(const Endpoint& endpoint);
    // Removes every endpoint with that identifier and rewrites the file even when
    // there was none. The endpoint's key and the jobs using it are left alone.
    void remove(const Uuid& id);

    // The jobs of `jobs` whose endpoint is `id`, in the given order.
    static std::vector<Job> jobsDepending(const Uuid& id, const std::vector<Job>& jobs);

    // Calls `observer` after each change, through `executor` (see ObserverList).
    [[nodiscard]] Subscription subscribe(ObserverList<IdChanges>::Observer observer,
                                         Executor executor = {});
    // Reads the file again, from now on, whenever another process replaces or edits it.
    // Call it once; throws std::system_error when the folder cannot be followed.
    void follow(FileWatcher& watcher);

    static std::string encode(const std::vector<Endpoint>& endpoints);
    // Throws DecodeError when the document is not an array of endpoints.
    static std::vector<Endpoint> decode(const Json& document);

private:
    StoredValue<std::vector<Endpoint>> stored_;
    ObserverList<IdChanges> observers_;
    // Declared last: ended first, so no reload runs into a store being destroyed.
    Subscription following_;
};

} // namespace marrowbell
