#pragma once

#include <libsecret/secret.h>

#include <string>

namespace marrowbell {

// libsecret with the GLib functions the credential store calls, loaded (dlopen of
// libsecret-1.so.0, which brings GLib) when a key is first needed, so a process that
// never looks one up never maps them. The members are the functions of the same name.
struct SecretLibrary {
    decltype(&::g_error_free) g_error_free;
    decltype(&::g_object_unref) g_object_unref;
    decltype(&::g_bus_get_sync) g_bus_get_sync;
    decltype(&::g_dbus_connection_call_sync) g_dbus_connection_call_sync;
    decltype(&::g_variant_new) g_variant_new;
    decltype(&::g_variant_get) g_variant_get;
    decltype(&::g_variant_unref) g_variant_unref;
    decltype(&::g_variant_iter_next) g_variant_iter_next;
    decltype(&::g_variant_iter_free) g_variant_iter_free;
    decltype(&::secret_service_get_sync) secret_service_get_sync;
    decltype(&::secret_collection_for_alias_sync) secret_collection_for_alias_sync;
    decltype(&::secret_collection_get_locked) secret_collection_get_locked;
    decltype(&::secret_password_store_sync) secret_password_store_sync;
    decltype(&::secret_password_lookup_sync) secret_password_lookup_sync;
    decltype(&::secret_password_clear_sync) secret_password_clear_sync;
    decltype(&::secret_password_free) secret_password_free;

    // The library, loaded once per process and never unloaded; null when it cannot be
    // loaded.
    static const SecretLibrary* get();
};

} // namespace marrowbell
