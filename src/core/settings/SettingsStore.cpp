#include "settings/SettingsStore.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

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
    stored_.change(mutation);
}

std::string SettingsStore::encode(const AppSettings& settings) {
    return json::pretty(settings.toJson());
}

} // namespace marrowbell
