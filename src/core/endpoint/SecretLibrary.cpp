#include "endpoint/SecretLibrary.h"

#include "base/SharedLibrary.h"

#include <optional>

namespace marrowbell {

const SecretLibrary* SecretLibrary::get() {
    static const std::optional<SecretLibrary> library = []() -> std::optional<SecretLibrary> {
        SharedLibrary so("libsecret-1.so.0");
        SecretLibrary l{};
#define MARROWBELL_FIND(name) so.find(#name, l.name)
        bool complete =
            MARROWBELL_FIND(g_error_free) && MARROWBELL_FIND(g_object_unref) &&
            MARROWBELL_FIND(g_bus_get_sync) && MARROWBELL_FIND(g_dbus_connection_call_sync) &&
            MARROWBELL_FIND(g_variant_new) && MARROWBELL_FIND(g_variant_get) &&
            MARROWBELL_FIND(g_variant_unref) && MARROWBELL_FIND(g_variant_iter_next) &&
            MARROWBELL_FIND(g_variant_iter_free) && MARROWBELL_FIND(secret_service_get_sync) &&
            MARROWBELL_FIND(secret_collection_for_alias_sync) &&
            MARROWBELL_FIND(secret_collection_get_locked) &&
            MARROWBELL_FIND(secret_password_store_sync) &&
            MARROWBELL_FIND(secret_password_lookup_sync) &&
            MARROWBELL_FIND(secret_password_clear_sync) && MARROWBELL_FIND(secret_password_free);
#undef MARROWBELL_FIND
        if (!complete)
            return std::nullopt;
        return l;
    }();
    return library ? &*library : nullptr;
}

} // namespace marrowbell
