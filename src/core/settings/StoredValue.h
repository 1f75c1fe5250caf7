#pragma once

#include "base/FileWatcher.h"
#include "base/Files.h"
#include "base/Json.h"
#include "base/StoreFile.h"
#include "base/Subscription.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace marrowbell {

// A value kept in memory and mirrored whole into one file, shared with other
// processes through StoreFile: loaded at creation, and every change is a
// read-modify-write of the file under its lock, so a change made meanwhile by another
// process is kept and then visible here too.
//
// Once it `follow`s the file, a replacement written by another process is adopted as
// well, without a change of this process: the file is read the way `load` reads it,
// but a file that cannot be read or does not decode whole is left exactly as it is and
// memory keeps its value (it is moved aside only at creation, or repaired by the next
// change).
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
        {
            std::lock_guard lock(mutex_);
            ++writing_;
            ++changes_;
        }
        try {
            file_.update(
                decode_, std::forward<Mutation>(mutate), encode_,
                [this](const Value& written) {
                    std::lock_guard lock(mutex_);
                    value_ = written;
                },
                fallback_);
        } catch (...) {
            std::lock_guard lock(mutex_);
            --writing_;
            throw;
        }
        std::lock_guard lock(mutex_);
        --writing_;
    }

    // Follows the file: whenever another process replaces it and it decodes to a value
    // other than memory's, that value is kept and `changed(const Value& before)` is
    // called with the one it replaced. Nothing happens for this process's own writes,
    // read back, nor while one of its changes is being written (its rename comes next).
    template <class Changed>
    [[nodiscard]] Subscription follow(FileWatcher& watcher, Changed changed) {
        return watcher.watch(file_.path().parent_path(),
                             [this, changed](const FileWatcher::Changes& changes) {
                                 if (!changes.touches(file_.path().filename().string()))
                                     return;
                                 std::optional<std::uint64_t> seen = settled();
                                 if (!seen)
                                     return;
                                 std::optional<Value> fresh = file_.readClean(decode_, fallback_);
                                 if (!fresh)
                                     return;
                                 if (std::optional<Value> before = adopt(std::move(*fresh), *seen))
                                     changed(*before);
                             });
    }

private:
    // The number of changes begun so far, when none is being written.
    std::optional<std::uint64_t> settled() const {
        std::lock_guard lock(mutex_);
        if (writing_ > 0)
            return std::nullopt;
        return changes_;
    }

    // Takes `fresh`, read after `settled` gave `seen`, unless a change began since (the
    // read may predate its write). Returns the value replaced when `fresh` differs.
    std::optional<Value> adopt(Value fresh, std::uint64_t seen) {
        std::lock_guard lock(mutex_);
        if (changes_ != seen || writing_ > 0 || fresh == value_)
            return std::nullopt;
        return std::exchange(value_, std::move(fresh));
    }

    StoreFile file_;
    const Decoder decode_;
    const Encoder encode_;
    const Value fallback_;
    mutable std::mutex mutex_;
    Value value_;
    int writing_ = 0;           // changes being written now
    std::uint64_t changes_ = 0; // changes begun so far
};

} // namespace marrowbell
