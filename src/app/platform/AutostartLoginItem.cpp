#include "platform/AutostartLoginItem.h"

#include "base/Files.h"
#include "base/HomeFolder.h"

#include <cstdlib>
#include <sstream>
#include <system_error>

namespace marrowbell::app {

namespace {

// Marks an entry this application wrote, so one the user made is never taken for ours.
constexpr const char* ownerKey = "X-Marrowbell-LoginItem";

std::filesystem::path configFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return config;
    return std::filesystem::path(homeFolder()) / ".config";
}

// The path as one argument of an Exec key: quoted, with the characters the desktop
// entry format reserves escaped, then escaped again as a string value.
std::string execArgument(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\')
            value += '\\';
        value += c;
    }
    return value;
}

// The value of `key` in the entry's main group; none when it has none.
std::optional<std::string> valueOf(const std::string& entry, const std::string& key) {
    std::istringstream lines(entry);
    std::string line;
    bool mainGroup = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.front() == '[') {
            mainGroup = line.rfind("[Desktop Entry]", 0) == 0;
            continue;
        }
        if (!mainGroup || line.rfind(key, 0) != 0)
            continue;
        std::size_t at = key.size();
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at < line.size() && line[at] == '=') {
            std::size_t value = line.find_first_not_of(' ', at + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    }
    return std::nullopt;
}

} // namespace

AutostartLoginItem::AutostartLoginItem(std::filesystem::path executable,
                                       std::optional<std::filesystem::path> configHome)
    : executable_(std::move(executable))
    , entry_(configHome.value_or(configFolder()) / "autostart" / fileName) {}

LoginItem::Status AutostartLoginItem::status() const {
    const std::optional<std::string> entry = files::read(entry_);
    if (!entry || valueOf(*entry, ownerKey) != "true" || valueOf(*entry, "Hidden") == "true")
        return Status::notRegistered;
    return Status::enabled;
}

void AutostartLoginItem::setEnabled(bool enabled) {
    try {
        if (enabled) {
            std::filesystem::create_directories(entry_.parent_path());
            files::writeAtomically(entry_, "[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=Marrowbell\n"
                                           "Comment=Runs your scheduled coding-agent jobs\n"
                                           "Exec=" +
                                               execArgument(executable_.string()) +
                                               "\n"
                                               "Icon=marrowbell\n"
                                               "Terminal=false\n"
                                               "X-GNOME-Autostart-enabled=true\n" +
                                               ownerKey + "=true\n");
            return;
        }
        // An entry the user made is theirs to remove.
        const std::optional<std::string> entry = files::read(entry_);
        if (entry && valueOf(*entry, ownerKey) == "true")
            std::filesystem::remove(entry_);
    } catch (const std::system_error& error) {
        throw Error(error.code().message());
    }
}

} // namespace marrowbell::app
