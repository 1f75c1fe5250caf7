#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell::secretfile {

// The fallback credential file: one JSON object {service: {account: key}},
// mode 0600, kept by the rules of StoreFile (changes re-read it under its lock, so two
// processes changing keys at once lose neither change), except that a damaged file is
// left in place and refused rather than moved aside. Errors throw
// SecretStore::Failure with the errno as status and the message for the user.

std::optional<std::string> read(const std::filesystem::path& file, const std::string& service,
                                const std::string& account);
// Stores the key, or removes the entry when `key` is none.
void write(const std::filesystem::path& file, const std::string& service,
           const std::string& account, std::optional<std::string_view> key);

} // namespace marrowbell::secretfile
