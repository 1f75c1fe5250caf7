#include "settings/SettingsStore.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

#include <algorithm>

namespace marrowbell {

// Each field falls back to its default on its own, so a file that parses never loses
// its good fields; only a document that is not an object is set aside.
static Decoded<AppSettings> decode(const Json& document) {
    return {AppSettings::fromJson(document)};
}

SettingsStore::SettingsStore(std::filesystem::path file)
    : stored_(std::move(file), "the settings", maxFileBytes, 0600, &decode,
              &SettingsStore::encode) {}

std::filesystem::path SettingsStore::defaultFileURL() {
    return SupportDirectory::file("settings.json");
}

AppSettings SettingsStore::settings() const {
    return stored_.get();
}

void SettingsStore::update(const std::function<void(AppSettings&)>& mutation) {
    std::optional<AppSettings> changed;
    stored_.change([&](AppSettings& settings) {
        const AppSettings before = settings;
        mutation(settings);
        if (settings != before)
            changed = settings;
    });
    if (changed)
        observers_.notify(*changed);
}

Subscription SettingsStore::subscribe(ObserverList<AppSettings>::Observer observer,
                                      Executor executor) {
    return observers_.subscribe(std::move(observer), std::move(executor));
}

void SettingsStore::follow(FileWatcher& watcher) {
    following_ =
        stored_.follow(watcher, [this](const AppSettings&) { observers_.notify(stored_.get()); });
}

std::string SettingsStore::encode(const AppSettings& settings) {
    return json::pretty(settings.toJson());
}

} // namespace marrowbell
