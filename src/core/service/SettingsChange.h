#pragma once

#include "endpoint/Endpoint.h"
#include "settings/AppSettings.h"

#include <array>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

class HarnessRegistry;

// One change to the global settings as a person writes it, a key and a value in
// words ("catch-up" "15m"), checked by SettingRules and against the manifest and
// the endpoints, so that a front end taking text stores nothing the settings
// window could not. Made by `set` or `reset`, then `apply`d inside
// SettingsStore::update.
class SettingsChange {
public:
    enum class Key {
        catchUp,
        defaultTimeout,
        notify,
        defaultHarness,
        defaultEndpoint,
        transcriptLimit
    };

    struct KeyInfo {
        Key key;
        std::string_view name; // "catch-up"
    };
    // Every key, in the order settings are shown.
    static const std::array<KeyInfo, 6>& keys();
    static std::string_view name(Key key);
    // None for a name that is no key.
    static std::optional<Key> key(std::string_view name);

    // A value refused; the text is the message for the user.
    struct Refusal : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // What a value is checked against.
    struct Context {
        const HarnessRegistry& registry;
        std::vector<Endpoint> endpoints;
        // Where harnesses are looked for; none for the registry's own folders.
        std::optional<std::vector<std::string>> searchPaths;
    };

    // Throws Refusal for a value the key does not take.
    static SettingsChange set(Key key, std::string_view value, const Context& context);
    // Back to the value of a settings file without that key.
    static SettingsChange reset(Key key);

    Key key() const { return key_; }
    void apply(AppSettings& settings) const { change_(settings); }
    // A note that does not stop the change (a default harness not installed here).
    const std::optional<std::string>& note() const { return note_; }

    // The key's value in words, as `set` takes it where it can ("15m", "30"), for
    // showing; `endpoints` names the default endpoint.
    static std::string valueText(Key key, const AppSettings& settings,
                                 const std::vector<Endpoint>& endpoints);

private:
    SettingsChange(Key key, std::function<void(AppSettings&)> change)
        : key_(key)
        , change_(std::move(change)) {}

    Key key_;
    std::function<void(AppSettings&)> change_;
    std::optional<std::string> note_;
};

} // namespace marrowbell
