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
// "endpoints.json" (one pretty-printed JSON array, 0600) by the rules of StoreFile:
// read at creation, an endpoint that does not decode is left out (the file as it was
// kept aside), a file that does not decode at all is moved aside, and one that cannot
// be read is never replaced. Every change re-reads the file under its lock and
// rewrites it whole and atomically, or throws StoreError. Once the store `follow`s the
// file, another process's replacement is read again; one that cannot be read or does
// not decode whole is left untouched and the list in memory stays. Observers are told
// which endpoints were saved or removed, by this process or another. Safe to share
// between threads.
class EndpointStore {
public:
    // Creates the file's folder when missing (throwing std::filesystem::filesystem_error
    // when it cannot), then loads the file.
    explicit EndpointStore(std::filesystem::path file);

    // The support folder's "endpoints.json"; throws when there is no support folder.
    static std::filesystem::path defaultFileURL();

    const std::filesystem::path& fileURL() const { return stored_.file(); }
    // What went wrong reading the file, one message each, for the user.
    std::vector<std::string> loadProblems() const { return stored_.problems(); }

    std::vector<Endpoint> endpoints() const;
    // The first endpoint with that identifier; none for none or an unknown one.
    std::optional<Endpoint> endpoint(const std::optional<Uuid>& id) const;

    // Replaces the endpoint with the same identifier in place, or appends it. Throws
    // StoreError ("Could not save the endpoints — …").
    void save(const Endpoint& endpoint);
    // Removes every endpoint with that identifier and rewrites the file even when
    // there was none. Throws StoreError. The endpoint's key and the jobs using it are left alone.
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
    // The endpoints that decode, counting those that do not; throws DecodeError when
    // the document is not an array.
    static Decoded<std::vector<Endpoint>> decode(const Json& document);

    static constexpr std::size_t maxFileBytes = std::size_t(16) << 20;

private:
    StoredValue<std::vector<Endpoint>> stored_;
    ObserverList<IdChanges> observers_;
    // Declared last: ended first, so no reload runs into a store being destroyed.
    Subscription following_;
};

} // namespace marrowbell
