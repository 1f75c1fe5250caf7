#include "settings/SettingsStore.h"

#include "base/Files.h"
#include "settings/SupportDirectory.h"

namespace marrowbell {

static AppSettings load(const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    auto bytes = files::read(file);
    if (!bytes)
        return {};
    auto document = json::parse(*bytes);
    if (!document)
        return {};
    try {
        return AppSettings::fromJson(*document);
    } catch (const std::exception&) {
        return {};
    }
}

SettingsStore::SettingsStore(std::filesystem::path file)
    : stored_(file, load(file), &SettingsStore::encode) {}

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
