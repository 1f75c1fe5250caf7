#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell::secretfile {

// The fallback credential file: one JSON object {service: {account: key}},
// mode 0600, replaced atomically under an exclusive lock on "{file}.lock" so two
// processes changing keys at once lose neither change. Errors throw
// SecretStore::Failure with the errno as status.

std::optional<std::string> read(const std::filesystem::path& file, const std::string& service,
                                const std::string& account);
// Stores the key, or removes the entry when `key` is none.
void write(const std::filesystem::path& file, const std::string& service,
           const std::string& account, std::optional<std::string_view> key);

} // namespace marrowbell::secretfile
