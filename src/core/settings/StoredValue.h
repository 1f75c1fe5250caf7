#pragma once

#include "base/FileWatcher.h"
#include "base/Files.h"
#include "base/Json.h"
#include "base/Subscription.h"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace marrowbell {

// A value kept in memory and mirrored whole into one file after every change.
//
// One mutex guards the value; it is held for copies and mutations only, never
// while encoding or writing. Changes are numbered under the mutex, and a single
// writer at a time stores the newest snapshot, so concurrent changes can never
// leave an older state on disk after a newer one; `change` returns once the file
// holds its change or a later one. Write failures are ignored: the value in memory
// stays changed and the file keeps its previous content.
template <class Value> class StoredValue {
public:
    using Encoder = std::function<std::string(const Value&)>;

    StoredValue(std::filesystem::path file, Value initial, Encoder encode)
        : file_(std::move(file))
        , encode_(std::move(encode))
        , value_(std::move(initial)) {}

    StoredValue(const StoredValue&) = delete;
    StoredValue& operator=(const StoredValue&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // The value decoded from `file` (its folder is created on the way), or `fallback`
    // when the file is missing, unreadable, not JSON or rejected by `decode`. The file
    // itself is left untouched until the next change.
    template <class Decode>
    static Value load(const std::filesystem::path& file, Decode&& decode, Value fallback = {}) {
        std::filesystem::create_directories(file.parent_path());
        auto bytes = files::read(file);
        if (!bytes)
            return fallback;
        auto document = json::parse(*bytes);
        if (!document)
            return fallback;
        try {
            return decode(*document);
        } catch (const std::exception&) {
            return fallback;
        }
    }

    Value get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    // Applies `mutate` to the value in place under the lock, then persists.
    template <class Mutation> void change(Mutation&& mutate) {
        std::uint64_t mine;
        {
            std::lock_guard lock(mutex_);
            std::forward<Mutation>(mutate)(value_);
            mine = ++version_;
        }
        persistUpTo(mine);
    }

    // Follows the file: whenever it changes on disk it is loaded again, as at creation
    // (`load` with `decode`), and `changed` is called with the value it replaced. Nothing
    // happens when the content is what memory holds (a write of this process, read
    // back) or while a change of this process is being written (its rename comes next).
    template <class Decode, class Changed>
    [[nodiscard]] Subscription follow(FileWatcher& watcher, Decode decode, Changed changed) {
        return watcher.watch(
            file_.parent_path(), [this, decode, changed](const FileWatcher::Changes& changes) {
                if (!changes.touches(file_.filename().string()))
                    return;
                std::optional<std::uint64_t> seen = settled();
                if (!seen)
                    return;
                if (std::optional<Value> before = adopt(load(file_, decode), *seen))
                    changed(*before);
            });
    }

private:
    // The number of the last change when the file holds it; none while a write is
    // under way.
    std::optional<std::uint64_t> settled() const {
        std::lock_guard lock(mutex_);
        if (writing_ || written_ != version_)
            return std::nullopt;
        return version_;
    }

    // Takes `fresh`, read from the file after `settled` gave `seen`, unless a change was
    // made since (the file read may predate it). Returns the value replaced when `fresh`
    // differs from it.
    std::optional<Value> adopt(Value fresh, std::uint64_t seen) {
        std::lock_guard lock(mutex_);
        if (version_ != seen || writing_ || fresh == value_)
            return std::nullopt;
        return std::exchange(value_, std::move(fresh));
    }

    void persistUpTo(std::uint64_t mine) {
        std::unique_lock lock(mutex_);
        while (written_ < mine) {
            if (writing_) {
                writerDone_.wait(lock);
                continue;
            }
            writing_ = true;
            Value snapshot = value_;
            std::uint64_t version = version_;
            lock.unlock();
            try {
                files::writeAtomically(file_, encode_(snapshot));
            } catch (...) {
                // The file keeps its previous content; memory stays the truth.
            }
            lock.lock();
            writing_ = false;
            written_ = version;
            writerDone_.notify_all();
        }
    }

    const std::filesystem::path file_;
    const Encoder encode_;
    mutable std::mutex mutex_;
    std::condition_variable writerDone_;
    Value value_;
    std::uint64_t version_ = 0;
    std::uint64_t written_ = 0;
    bool writing_ = false;
};

} // namespace marrowbell
