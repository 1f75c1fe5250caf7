#pragma once

#include "settings/AppSettings.h"
#include "settings/StoredValue.h"

#include <filesystem>
#include <functional>

namespace marrowbell {

// The global settings, kept in "settings.json" (one pretty-printed JSON object) by the
// rules of StoreFile: read at creation, a missing field or one of the wrong type reads
// as its default, a file that does not parse is moved aside and gives the defaults,
// and one that cannot be read is never replaced. Every change re-reads the file under
// its lock and rewrites it whole and atomically, or throws StoreError. Safe to share
// between threads.
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

    static std::string encode(const AppSettings& settings);

    static constexpr std::size_t maxFileBytes = std::size_t(16) << 20;

private:
    StoredValue<AppSettings> stored_;
};

} // namespace marrowbell
