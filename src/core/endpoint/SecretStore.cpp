#include "endpoint/SecretStore.h"

#include "base/SupportDirectory.h"
#include "endpoint/SecretFile.h"

#include <cerrno>
#include <gio/gio.h>
#include <libsecret/secret.h>
#include <memory>

namespace marrowbell {

namespace {

constexpr const char* busName = "org.freedesktop.secrets";
constexpr int busTimeoutMs = 5000;

// Items are found by service and account alone, whatever schema wrote them.
const SecretSchema* schema() {
    static const SecretSchema value = {"app.marrowbell.EndpointKey",
                                       SECRET_SCHEMA_DONT_MATCH_NAME,
                                       {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                       0,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};
    return &value;
}

struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorDeleter>;

struct ObjectDeleter {
    void operator()(void* object) const { g_object_unref(object); }
};

SecretStore::Failure failure(const GError* error) {
    if (!error)
        return SecretStore::Failure(-1, "");
    return SecretStore::Failure(error->code, error->message ? error->message : "");
}

// Asks the bus whether the name has an owner, or could be started on demand.
bool serviceAvailable(GDBusConnection* bus, std::string& why) {
    auto ask = [&](const char* method, GVariant* arguments) -> GVariant* {
        GError* raw = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
            arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, busTimeoutMs, nullptr, &raw);
        Error error(raw);
        return reply;
    };
    if (GVariant* reply = ask("NameHasOwner", g_variant_new("(s)", busName))) {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
        if (owned)
            return true;
    }
    if (GVariant* reply = ask("ListActivatableNames", nullptr)) {
        GVariantIter* names = nullptr;
        const char* name = nullptr;
        bool found = false;
        g_variant_get(reply, "(as)", &names);
        while (g_variant_iter_next(names, "&s", &name))
            found = found || g_strcmp0(name, busName) == 0;
        g_variant_iter_free(names);
        g_variant_unref(reply);
        if (found)
            return true;
    }
    why = "no Secret Service is running";
    return false;
}

} // namespace

SecretStore::Failure::Failure(std::int32_t status, const std::string& detail)
    : std::runtime_error("The keyring refused the request \u2014 " +
                         (detail.empty() ? "status " + std::to_string(status) : detail))
    , status_(status) {}

SecretStore::Backend SecretStore::detectBackend(std::string* why) {
    std::string reason;
    auto decide = [&]() -> Backend {
        GError* raw = nullptr;
        std::unique_ptr<GDBusConnection, ObjectDeleter> bus(
            g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
        Error error(raw);
        if (!bus) {
            reason = "there is no session bus";
            return Backend::file;
        }
        if (!serviceAvailable(bus.get(), reason))
            return Backend::file;
        raw = nullptr;
        std::unique_ptr<SecretService, ObjectDeleter> service(
            secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw));
        error.reset(raw);
        if (!service) {
            reason = "the Secret Service did not answer";
            return Backend::file;
        }
        raw = nullptr;
        std::unique_ptr<SecretCollection, ObjectDeleter> collection(
            secret_collection_for_alias_sync(service.get(), SECRET_COLLECTION_DEFAULT,
                                             SECRET_COLLECTION_NONE, nullptr, &raw));
        error.reset(raw);
        if (!collection) {
            reason = "the Secret Service has no default keyring";
            return Backend::file;
        }
        if (secret_collection_get_locked(collection.get())) {
            reason = "the default keyring is locked";
            return Backend::file;
        }
        return Backend::secretService;
    };
    Backend backend = decide();
    if (why)
        *why = reason;
    return backend;
}

const SecretStore& SecretStore::shared() {
    static const SecretStore store = [] {
        std::filesystem::path file;
        try {
            file = SupportDirectory::file("secrets.json");
        } catch (const std::exception&) {
            // Without a support folder the file backend fails each request visibly.
        }
        std::string why;
        Backend backend = detectBackend(&why);
        return SecretStore(std::string(endpointService), backend, file, why);
    }();
    return store;
}

SecretStore::SecretStore(std::string service, Backend backend, std::filesystem::path file,
                         std::string backendReason)
    : service_(std::move(service))
    , backend_(backend)
    , file_(std::move(file))
    , backendReason_(std::move(backendReason)) {}

std::string SecretStore::backendDescription() const {
    if (backend_ == Backend::secretService)
        return "Secret Service (the default keyring)";
    std::string text = "the file " + file_.string() + ", readable by you alone";
    if (!backendReason_.empty())
        text += " (" + backendReason_ + ")";
    return text;
}

void SecretStore::save(std::string_view key, const Uuid& endpoint) const {
    if (key.empty()) {
        remove(endpoint);
        return;
    }
    // A key is text: bytes that are not UTF-8 (or hold a NUL) could not be read back.
    if (!g_utf8_validate(key.data(), static_cast<gssize>(key.size()), nullptr))
        throw Failure(EINVAL, "the key is not valid UTF-8 text");
    std::string account = endpoint.text();
    if (backend_ == Backend::file) {
        secretfile::write(file_, service_, account, key);
        return;
    }
    std::string value(key);
    std::string label = "Marrowbell endpoint key " + account;
    GError* raw = nullptr;
    // Storing with the same attributes replaces the earlier item: one item per endpoint.
    gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value.c_str(), nullptr, &raw, "service",
        service_.c_str(), "account", account.c_str(), nullptr);
    Error error(raw);
    if (!stored)
        throw failure(error.get());
    // The keyring holds the key now; an older copy in the file would only confuse.
    try {
        secretfile::write(file_, service_, account, std::nullopt);
    } catch (const Failure&) {
    }
}

std::optional<std::string> SecretStore::secret(const Uuid& endpoint) const noexcept {
    try {
        std::string account = endpoint.text();
        std::optional<std::string> key;
        if (backend_ == Backend::secretService) {
            GError* raw = nullptr;
            gchar* value =
                secret_password_lookup_sync(schema(), nullptr, &raw, "service", service_.c_str(),
                                            "account", account.c_str(), nullptr);
            Error error(raw);
            if (value) {
                key = std::string(value);
                secret_password_free(value);
            }
        }
        if (!key && !file_.empty())
            key = secretfile::read(file_, service_, account);
        if (!key || key->empty() || !g_utf8_validate(key->data(), key->size(), nullptr))
            return std::nullopt;
        return key;
    } catch (...) {
        return std::nullopt;
    }
}

void SecretStore::remove(const Uuid& endpoint) const {
    std::string account = endpoint.text();
    if (backend_ == Backend::secretService) {
        GError* raw = nullptr;
        // FALSE without an error means there was nothing to delete: success.
        secret_password_clear_sync(schema(), nullptr, &raw, "service", service_.c_str(), "account",
                                   account.c_str(), nullptr);
        Error error(raw);
        if (error)
            throw failure(error.get());
        if (file_.empty())
            return;
    }
    secretfile::write(file_, service_, account, std::nullopt);
}

} // namespace marrowbell
