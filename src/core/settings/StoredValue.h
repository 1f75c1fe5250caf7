#pragma once

#include "base/Files.h"
#include "base/Json.h"
#include "base/StoreFile.h"

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace marrowbell {

// A value kept in memory and mirrored whole into one file, shared with other
// processes through StoreFile: loaded at creation, and every change is a
// read-modify-write of the file under its lock, so a change made meanwhile by another
// process is kept and then visible here too.
//
// One mutex guards the value; it is held for copies and assignments only, never while
// reading, encoding or writing. A change that cannot be written throws StoreError and
// changes nothing, in memory or on disk.
template <class Value> class StoredValue {
public:
    using Encoder = std::function<std::string(const Value&)>;
    using Decoder = std::function<Decoded<Value>(const Json&)>;

    // Creates the file's folder (throwing std::filesystem::filesystem_error when it
    // cannot), then loads the file; what went wrong is in `problems()`. The file is kept
    // as StoreFile(path, subject, maxBytes, mode) describes.
    StoredValue(std::filesystem::path path, std::string subject, std::size_t maxBytes, mode_t mode,
                Decoder decode, Encoder encode, Value fallback = {})
        : file_(std::move(path), std::move(subject), maxBytes, mode)
        , decode_(std::move(decode))
        , encode_(std::move(encode))
        , fallback_(std::move(fallback)) {
        files::createPrivateFolders(file_.path().parent_path());
        value_ = file_.load(decode_, encode_, fallback_);
    }

    StoredValue(const StoredValue&) = delete;
    StoredValue& operator=(const StoredValue&) = delete;

    const std::filesystem::path& file() const { return file_.path(); }
    std::vector<std::string> problems() const { return file_.problems(); }

    Value get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    // Applies `mutate` to the value as the file holds it now, writes it, and keeps the
    // result. Throws StoreError when the file cannot be read or written.
    template <class Mutation> void change(Mutation&& mutate) {
        file_.update(
            decode_, std::forward<Mutation>(mutate), encode_,
            [this](const Value& written) {
                std::lock_guard lock(mutex_);
                value_ = written;
            },
            fallback_);
    }

private:
    StoreFile file_;
    const Decoder decode_;
    const Encoder encode_;
    const Value fallback_;
    mutable std::mutex mutex_;
    Value value_;
};

} // namespace marrowbell
