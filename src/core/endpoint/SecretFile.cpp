#include "endpoint/SecretFile.h"

#include "base/Files.h"
#include "base/Json.h"
#include "endpoint/SecretStore.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

namespace marrowbell::secretfile {

namespace {

SecretStore::Failure failure(int error, const std::string& what) {
    return SecretStore::Failure(error, what + ": " + std::strerror(error));
}

// An exclusive lock held for one read-modify-write of the file.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& file) {
        std::string path = file.string() + ".lock";
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0)
            throw failure(errno, "cannot open " + path);
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                int error = errno;
                ::close(fd_);
                throw failure(error, "cannot lock " + path);
            }
        }
    }
    ~FileLock() { ::close(fd_); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

// The whole document; an empty object when the file does not exist. A file that
// exists but cannot be read or decoded throws rather than being overwritten, so
// the keys in it are not lost.
Json load(const std::filesystem::path& file) {
    auto bytes = files::read(file);
    if (!bytes) {
        int error = errno;
        std::error_code ignored;
        if (!std::filesystem::exists(file, ignored))
            return Json::object();
        throw failure(error ? error : EIO, "cannot read " + file.string());
    }
    auto document = json::parse(*bytes);
    if (!document || !document->is_object())
        throw SecretStore::Failure(EINVAL,
                                   file.string() + " is damaged; move it away to start afresh");
    return *document;
}

} // namespace

std::optional<std::string> read(const std::filesystem::path& file, const std::string& service,
                                const std::string& account) {
    Json document = load(file);
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
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error)
        throw failure(error.value(), "cannot create " + file.parent_path().string());
    FileLock lock(file);
    Json document = load(file);
    if (key) {
        if (!document[service].is_object())
            document[service] = Json::object();
        document[service][account] = std::string(*key);
    } else {
        auto services = document.find(service);
        if (services == document.end() || !services->is_object() || !services->contains(account))
            return; // nothing to remove, nothing to rewrite
        services->erase(account);
        if (services->empty())
            document.erase(service);
    }
    try {
        // Created 0600 from the first byte: never readable by others, even briefly.
        files::writeAtomically(file, json::pretty(document), 0600);
    } catch (const std::system_error& e) {
        throw failure(e.code().value(), "cannot write " + file.string());
    }
}

} // namespace marrowbell::secretfile
