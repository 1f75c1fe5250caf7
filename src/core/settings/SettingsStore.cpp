#include "settings/SettingsStore.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

namespace marrowbell {

SettingsStore::SettingsStore(std::filesystem::path file)
    : stored_(file, decltype(stored_)::load(file, &AppSettings::fromJson), &SettingsStore::encode) {
}

std::filesystem::path SettingsStore::defaultFileURL() {
    return SupportDirectory::file("settings.json");
}

AppSettings SettingsStore::settings() const {
    return stored_.get();
}

void SettingsStore::update(const std::function<void(AppSettings&)>& mutation) {
    stored_.change(mutation);
}

std::string SettingsStore::encode(const AppSettings& settings) {
    return json::pretty(settings.toJson());
}

} // namespace marrowbell
