#include "base/StoreFile.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace marrowbell {

namespace fs = std::filesystem;

StoreFile::StoreFile(fs::path path, std::string subject, std::size_t maxBytes, mode_t mode,
                     Damaged damaged)
    : path_(std::move(path))
    , subject_(std::move(subject))
    , maxBytes_(maxBytes)
    , mode_(mode)
    , damaged_(damaged) {}

std::vector<std::string> StoreFile::problems() const {
    std::lock_guard lock(mutex_);
    return problems_;
}

void StoreFile::report(std::string problem) {
    std::lock_guard lock(mutex_);
    for (const std::string& known : problems_)
        if (known == problem)
            return;
    problems_.push_back(std::move(problem));
}

static std::string mebibytes(std::size_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

std::optional<std::string> StoreFile::readLocked(bool mayRepair) {
    files::Content content = files::readBounded(path_, maxBytes_);
    switch (content.state) {
    case files::Content::State::read:
        if (content.bytes.empty())
            return std::nullopt; // nothing in it to lose
        return std::move(content.bytes);
    case files::Content::State::missing:
        return std::nullopt;
    case files::Content::State::tooLarge:
        damaged("it is larger than " + mebibytes(maxBytes_), mayRepair);
        return std::nullopt;
    case files::Content::State::notRegular:
        throw StoreError::couldNotSave(subject_, std::make_error_code(std::errc::invalid_argument),
                                       path_.string() + " is not a regular file");
    case files::Content::State::failed:
        break;
    }
    throw StoreError::couldNotSave(
        subject_, content.error, "cannot read " + path_.string() + ": " + content.error.message());
}

// "{file}.damaged-20261207T031450Z", with "-2", "-3"… when that name is taken.
fs::path StoreFile::freeDamagedName() const {
    std::time_t now = std::time(nullptr);
    std::tm fields{};
    char stamp[32] = "";
    if (::gmtime_r(&now, &fields))
        std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &fields);
    const std::string base = path_.string() + ".damaged-" + stamp;
    fs::path candidate = base;
    std::error_code ignored;
    for (int n = 2; fs::symlink_status(candidate, ignored).type() != fs::file_type::not_found; ++n)
        candidate = base + "-" + std::to_string(n);
    return candidate;
}

void StoreFile::damaged(const std::string& why, bool mayRepair) {
    const std::error_code invalid = std::make_error_code(std::errc::illegal_byte_sequence);
    if (damaged_ == Damaged::refuse)
        throw StoreError::couldNotSave(subject_, invalid,
                                       path_.string() + " is damaged (" + why +
                                           "); move it away to start afresh");
    if (!mayRepair)
        throw StoreError::couldNotSave(subject_, invalid,
                                       path_.string() + " is damaged (" + why +
                                           ") and could not be moved aside");
    const fs::path aside = freeDamagedName();
    if (::rename(path_.c_str(), aside.c_str()) != 0) {
        std::error_code error(errno, std::generic_category());
        throw StoreError::couldNotSave(subject_, error,
                                       path_.string() + " is damaged (" + why +
                                           ") and could not be moved aside: " + error.message());
    }
    ::chmod(aside.c_str(), 0600);
    report(path_.string() + " could not be read (" + why + "); it was moved aside to " +
           aside.string() + " and " + subject_ + " starts afresh.");
}

void StoreFile::keepCopy(std::string_view bytes, std::size_t dropped) {
    const fs::path aside = freeDamagedName();
    try {
        files::writeAtomically(aside, bytes, 0600);
    } catch (const std::system_error& error) {
        throw StoreError::couldNotSave(subject_, error.code(),
                                       "a copy of the partly damaged " + path_.string() +
                                           " could not be kept: " + error.code().message());
    }
    report(std::to_string(dropped) + (dropped == 1 ? " entry" : " entries") + " of " +
           path_.string() + " could not be read and " + (dropped == 1 ? "was" : "were") +
           " left out; the file as it was is kept as " + aside.string() + ".");
}

void StoreFile::write(std::string_view bytes) {
    try {
        files::writeAtomically(path_, bytes, mode_);
    } catch (const std::system_error& error) {
        throw StoreError::couldNotSave(subject_, error.code());
    }
}

} // namespace marrowbell
