#include "endpoint/SecretFile.h"

#include "base/Files.h"
#include "base/Json.h"
#include "endpoint/SecretStore.h"

#include "base/StoreFile.h"

#include <cerrno>

namespace marrowbell::secretfile {

namespace {

constexpr std::size_t maxFileBytes = std::size_t(16) << 20;

// A damaged key file is left where it is: the keys in it are the user's to rescue.
StoreFile keyFile(const std::filesystem::path& file) {
    return StoreFile(file, "the key", maxFileBytes, 0600, StoreFile::Damaged::refuse);
}

Decoded<Json> decode(const Json& document) {
    if (!document.is_object())
        throw DecodeError("it is not a JSON object");
    return {document};
}

std::string encode(const Json& document) {
    return json::pretty(document);
}

SecretStore::Failure failure(const StoreError& error) {
    return SecretStore::Failure(error.code().value(), error.what());
}

} // namespace

std::optional<std::string> read(const std::filesystem::path& file, const std::string& service,
                                const std::string& account) {
    StoreFile store = keyFile(file);
    Json document = store.load(decode, encode, Json::object());
    if (auto problems = store.problems(); !problems.empty())
        throw SecretStore::Failure(EIO, problems.front());
    auto services = document.find(service);
    if (services == document.end() || !services->is_object())
        return std::nullopt;
    auto key = services->find(account);
    if (key == services->end() || !key->is_string())
        return std::nullopt;
    return key->get<std::string>();
}

void write(const std::filesystem::path& file, const std::string& service,
           const std::string& account, std::optional<std::string_view> key) {
    if (file.empty())
        throw SecretStore::Failure(ENOENT, "there is no support folder for the key file");
    std::error_code missing;
    if (!key && !std::filesystem::exists(file, missing))
        return; // nothing to remove
    try {
        files::createPrivateFolders(file.parent_path());
    } catch (const std::filesystem::filesystem_error& error) {
        throw SecretStore::Failure(error.code().value(),
                                   "cannot create " + file.parent_path().string());
    }
    auto change = [&](Json& document) {
        if (key) {
            if (!document[service].is_object())
                document[service] = Json::object();
            document[service][account] = std::string(*key);
            return;
        }
        auto services = document.find(service);
        if (services == document.end() || !services->is_object())
            return;
        services->erase(account);
        if (services->empty())
            document.erase(service);
    };
    try {
        // Created 0600 from the first byte: never readable by others, even briefly.
        keyFile(file).update(
            decode, change, encode, [](const Json&) {}, Json::object());
    } catch (const StoreError& error) {
        throw failure(error);
    }
}

} // namespace marrowbell::secretfile
