#pragma once

#include "settings/AppSettings.h"
#include "settings/StoredValue.h"

#include <filesystem>
#include <functional>

namespace marrowbell {

// The global settings, kept in "settings.json" (one pretty-printed JSON object).
// The file is read once, at creation: a missing, unreadable or undecodable file
// gives the default settings and stays on disk untouched until the next change
// rewrites it. Every change rewrites the whole file atomically; write failures are
// ignored. Safe to share between threads.
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

    static std::string encode(const AppSettings& settings);

private:
    StoredValue<AppSettings> stored_;
};

} // namespace marrowbell
