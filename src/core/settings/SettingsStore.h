#pragma once

#include "base/FileWatcher.h"
#include "base/ObserverList.h"
#include "base/Subscription.h"
#include "settings/AppSettings.h"
#include "settings/StoredValue.h"

#include <filesystem>
#include <functional>

namespace marrowbell {

// The global settings, kept in "settings.json" (one pretty-printed JSON object) by the
// rules of StoreFile: read at creation, a missing field or one of the wrong type reads
// as its default, a file that does not parse is moved aside and gives the defaults,
// and one that cannot be read is never replaced. Every change re-reads the file under
// its lock and rewrites it whole and atomically, or throws StoreError. Once the store
// `follow`s the file, another process's replacement is read again; one that cannot be
// read or does not parse is left untouched and the settings in memory stay. Observers
// are told the new settings after each change, by this process or another. Safe to
// share between threads.
class SettingsStore {
public:
    // Creates the file's folder when missing (throwing std::filesystem::filesystem_error
    // when it cannot), then loads the file.
    explicit SettingsStore(std::filesystem::path file);

    // The support folder's "settings.json"; throws when there is no support folder.
    static std::filesystem::path defaultFileURL();

    const std::filesystem::path& fileURL() const { return stored_.file(); }
    // What went wrong reading the file, one message each, for the user.
    std::vector<std::string> loadProblems() const { return stored_.problems(); }

    AppSettings settings() const;
    // Applies `mutation` to the settings under the store's lock (it must not call
    // back into the store), then persists the result. Throws StoreError ("Could not
    // save the settings — …"), leaving the settings as they were.
    void update(const std::function<void(AppSettings&)>& mutation);

    // Calls `observer` with the new settings after each change that altered them,
    // through `executor` (see ObserverList).
    [[nodiscard]] Subscription subscribe(ObserverList<AppSettings>::Observer observer,
                                         Executor executor = {});
    // Reads the file again, from now on, whenever another process replaces or edits it.
    // Call it once; throws std::system_error when the folder cannot be followed.
    void follow(FileWatcher& watcher);

    static std::string encode(const AppSettings& settings);

    static constexpr std::size_t maxFileBytes = std::size_t(16) << 20;

private:
    StoredValue<AppSettings> stored_;
    ObserverList<AppSettings> observers_;
    // Declared last: ended first, so no reload runs into a store being destroyed.
    Subscription following_;
};

} // namespace marrowbell
