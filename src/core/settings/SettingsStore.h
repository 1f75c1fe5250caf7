#pragma once

#include "base/FileWatcher.h"
#include "base/ObserverList.h"
#include "base/Subscription.h"
#include "settings/AppSettings.h"
#include "settings/StoredValue.h"

#include <filesystem>
#include <functional>

namespace marrowbell {

// The global settings, kept in "settings.json" (one pretty-printed JSON object).
// The file is read at creation, and again whenever another process replaces it once
// the store `follow`s it: a missing, unreadable or undecodable file gives the default
// settings and stays on disk untouched until the next change rewrites it. Every
// change rewrites the whole file atomically; write failures are ignored. Observers
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

    AppSettings settings() const;
    // Applies `mutation` to the settings under the store's lock (it must not call
    // back into the store), then persists the result.
    void update(const std::function<void(AppSettings&)>& mutation);

    // Calls `observer` with the new settings after each change that altered them,
    // through `executor` (see ObserverList).
    [[nodiscard]] Subscription subscribe(ObserverList<AppSettings>::Observer observer,
                                         Executor executor = {});
    // Reads the file again, from now on, whenever another process replaces or edits it.
    // Call it once; throws std::system_error when the folder cannot be followed.
    void follow(FileWatcher& watcher);

    static std::string encode(const AppSettings& settings);

private:
    StoredValue<AppSettings> stored_;
    ObserverList<AppSettings> observers_;
    // Declared last: ended first, so no reload runs into a store being destroyed.
    Subscription following_;
};

} // namespace marrowbell
