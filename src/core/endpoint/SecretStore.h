#pragma once

#include "base/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace marrowbell {

// Endpoint API keys, one item per endpoint, filed under `service` with the
// endpoint's UUID (canonical upper-case text) as the account. Keys never go into
// endpoints.json, an argument list or any output.
//
// Two backends hold the items:
// - `secretService`: the desktop keyring over D-Bus (libsecret), items with the
//   attributes service and account, stored in the default collection.
// - `file`: on machines with no usable keyring, a JSON file in the support folder
//   ("secrets.json") readable by the user alone (0600, replaced atomically).
// The application's store (`shared`) picks its backend once per process, when a key
// is first needed, by asking the keyring itself whether it is there and its default
// collection unlocked — never from the silence of a lookup, which cannot tell a
// missing key from a locked keyring. libsecret and GLib are loaded only then, so a
// process that never needs a key never maps them. With the keyring in use, a key not found there is
// still looked up in the file, and removing a key clears it from both, so a key saved while the
// keyring was unavailable is neither lost nor resurrected.
//
// Holds no state of its own besides its configuration (copies share the backend
// chosen); safe to use from any thread.
class SecretStore {
public:
    enum class Backend { secretService, file };

    // A request the credential store refused. `status` is the store's own code
    // (a GLib error code, or an errno value for the file).
    class Failure : public std::runtime_error {
    public:
        Failure(std::int32_t status, const std::string& detail);
        std::int32_t status() const { return status_; }

    private:
        std::int32_t status_;
    };

    // The service every endpoint key of the application is filed under.
    static constexpr std::string_view endpointService = "app.marrowbell.endpoints";

    // The application's store: `endpointService`, the backend chosen on first use
    // (taking it is no use), and the support folder's "secrets.json" as the file.
    static const SecretStore& shared();

    // What the session bus answers now: `secretService` when
    // org.freedesktop.secrets runs (or can be started) and its default collection
    // exists and is unlocked; otherwise `file`, with the reason in `why`.
    static Backend detectBackend(std::string* why = nullptr);

    SecretStore(std::string service, Backend backend, std::filesystem::path file,
                std::string backendReason = {});

    const std::string& service() const { return service_; }
    Backend backend() const;
    const std::filesystem::path& file() const { return file_; }
    // One line for the user naming where keys are kept, and why when it is the file.
    std::string backendDescription() const;

    // Stores `key` for the endpoint, replacing any earlier key; an empty key
    // removes it. Throws Failure.
    void save(std::string_view key, const Uuid& endpoint) const;
    // The endpoint's key; none when there is none, it is empty or not UTF-8, or the
    // store cannot be read. Never throws.
    std::optional<std::string> secret(const Uuid& endpoint) const noexcept;
    // Removes the endpoint's key; a key that does not exist is not an error.
    // Throws Failure.
    void remove(const Uuid& endpoint) const;

private:
    struct Choice;

    // `shared`'s store, whose backend is chosen when first asked for.
    SecretStore(std::string service, std::filesystem::path file);
    const Choice& choice() const;

    std::string service_;
    std::filesystem::path file_;
    std::shared_ptr<Choice> choice_;
};

} // namespace marrowbell
