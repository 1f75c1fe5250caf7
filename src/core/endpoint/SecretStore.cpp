#include "endpoint/SecretStore.h"

#include "base/SupportDirectory.h"
#include "base/Utf8.h"
#include "endpoint/SecretFile.h"
#include "endpoint/SecretLibrary.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

namespace marrowbell {

namespace {

constexpr const char* busName = "org.freedesktop.secrets";
constexpr int busTimeoutMs = 5000;
constexpr const char* missingLibrary =
    "the Secret Service library libsecret-1.so.0 is not installed";

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

// Only called once the backend is the Secret Service, which needs the library loaded.
const SecretLibrary& library() {
    return *SecretLibrary::get();
}

struct ErrorDeleter {
    void operator()(GError* error) const { library().g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorDeleter>;

struct ObjectDeleter {
    void operator()(void* object) const { library().g_object_unref(object); }
};

// A key is text: bytes that are not UTF-8, or hold a NUL, could not be read back.
bool isKeyText(std::string_view key) {
    return utf8::isValid(key) && key.find('\0') == std::string_view::npos;
}

SecretStore::Failure failure(const GError* error) {
    if (!error)
        return SecretStore::Failure(-1, "");
    return SecretStore::Failure(error->code, error->message ? error->message : "");
}

// Asks the bus whether the name has an owner, or could be started on demand.
bool serviceAvailable(GDBusConnection* bus, std::string& why) {
    const SecretLibrary& glib = library();
    auto ask = [&](const char* method, GVariant* arguments) -> GVariant* {
        GError* raw = nullptr;
        GVariant* reply = glib.g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
            arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, busTimeoutMs, nullptr, &raw);
        Error error(raw);
        return reply;
    };
    if (GVariant* reply = ask("NameHasOwner", glib.g_variant_new("(s)", busName))) {
        gboolean owned = FALSE;
        glib.g_variant_get(reply, "(b)", &owned);
        glib.g_variant_unref(reply);
        if (owned)
            return true;
    }
    if (GVariant* reply = ask("ListActivatableNames", nullptr)) {
        GVariantIter* names = nullptr;
        const char* name = nullptr;
        bool found = false;
        glib.g_variant_get(reply, "(as)", &names);
        while (glib.g_variant_iter_next(names, "&s", &name))
            found = found || std::strcmp(name, busName) == 0;
        glib.g_variant_iter_free(names);
        glib.g_variant_unref(reply);
        if (found)
            return true;
    }
    why = "no Secret Service is running";
    return false;
}

} // namespace

struct SecretStore::Choice {
    std::once_flag once;
    Backend backend = Backend::file;
    std::string reason;
};

SecretStore::Failure::Failure(std::int32_t status, const std::string& detail)
    : std::runtime_error("The keyring refused the request \u2014 " +
                         (detail.empty() ? "status " + std::to_string(status) : detail))
    , status_(status) {}

SecretStore::Backend SecretStore::detectBackend(std::string* why) {
    std::string reason;
    auto decide = [&]() -> Backend {
        if (!SecretLibrary::get()) {
            reason = missingLibrary;
            return Backend::file;
        }
        const SecretLibrary& secret = library();
        GError* raw = nullptr;
        std::unique_ptr<GDBusConnection, ObjectDeleter> bus(
            secret.g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
        Error error(raw);
        if (!bus) {
            reason = "there is no session bus";
            return Backend::file;
        }
        if (!serviceAvailable(bus.get(), reason))
            return Backend::file;
        raw = nullptr;
        std::unique_ptr<SecretService, ObjectDeleter> service(
            secret.secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw));
        error.reset(raw);
        if (!service) {
            reason = "the Secret Service did not answer";
            return Backend::file;
        }
        raw = nullptr;
        std::unique_ptr<SecretCollection, ObjectDeleter> collection(
            secret.secret_collection_for_alias_sync(service.get(), SECRET_COLLECTION_DEFAULT,
                                                    SECRET_COLLECTION_NONE, nullptr, &raw));
        error.reset(raw);
        if (!collection) {
            reason = "the Secret Service has no default keyring";
            return Backend::file;
        }
        if (secret.secret_collection_get_locked(collection.get())) {
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
        return SecretStore(std::string(endpointService), file);
    }();
    return store;
}

SecretStore::SecretStore(std::string service, Backend backend, std::filesystem::path file,
                         std::string backendReason)
    : service_(std::move(service))
    , file_(std::move(file))
    , choice_(std::make_shared<Choice>()) {
    std::call_once(choice_->once, [&] {
        choice_->backend = backend;
        choice_->reason = std::move(backendReason);
        if (backend == Backend::secretService && !SecretLibrary::get()) {
            choice_->backend = Backend::file;
            choice_->reason = missingLibrary;
        }
    });
}

SecretStore::SecretStore(std::string service, std::filesystem::path file)
    : service_(std::move(service))
    , file_(std::move(file))
    , choice_(std::make_shared<Choice>()) {}

const SecretStore::Choice& SecretStore::choice() const {
    std::call_once(choice_->once, [this] { choice_->backend = detectBackend(&choice_->reason); });
    return *choice_;
}

SecretStore::Backend SecretStore::backend() const {
    return choice().backend;
}

std::string SecretStore::backendDescription() const {
    const Choice& chosen = choice();
    if (chosen.backend == Backend::secretService)
        return "Secret Service (the default keyring)";
    std::string text = "the file " + file_.string() + ", readable by you alone";
    if (!chosen.reason.empty())
        text += " (" + chosen.reason + ")";
    return text;
}

void SecretStore::save(std::string_view key, const Uuid& endpoint) const {
    if (key.empty()) {
        remove(endpoint);
        return;
    }
    if (!isKeyText(key))
        throw Failure(EINVAL, "the key is not valid UTF-8 text");
    std::string account = endpoint.text();
    if (backend() == Backend::file) {
        secretfile::write(file_, service_, account, key);
        return;
    }
    std::string value(key);
    std::string label = "Marrowbell endpoint key " + account;
    GError* raw = nullptr;
    // Storing with the same attributes replaces the earlier item: one item per endpoint.
    gboolean stored = library().secret_password_store_sync(
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
        if (backend() == Backend::secretService) {
            GError* raw = nullptr;
            gchar* value = library().secret_password_lookup_sync(schema(), nullptr, &raw, "service",
                                                                 service_.c_str(), "account",
                                                                 account.c_str(), nullptr);
            Error error(raw);
            if (value) {
                key = std::string(value);
                library().secret_password_free(value);
            }
        }
        if (!key && !file_.empty())
            key = secretfile::read(file_, service_, account);
        if (!key || key->empty() || !isKeyText(*key))
            return std::nullopt;
        return key;
    } catch (...) {
        return std::nullopt;
    }
}

void SecretStore::remove(const Uuid& endpoint) const {
    std::string account = endpoint.text();
    if (backend() == Backend::secretService) {
        GError* raw = nullptr;
        // FALSE without an error means there was nothing to delete: success.
        library().secret_password_clear_sync(schema(), nullptr, &raw, "service", service_.c_str(),
                                             "account", account.c_str(), nullptr);
        Error error(raw);
        if (error)
            throw failure(error.get());
        if (file_.empty())
            return;
    }
    secretfile::write(file_, service_, account, std::nullopt);
}

} // namespace marrowbell
