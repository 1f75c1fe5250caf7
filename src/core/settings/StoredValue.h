#pragma once

#include "base/Files.h"
#include "base/Json.h"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
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

private:
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
                // Private like every file of the support folder.
                files::writeAtomically(file_, encode_(snapshot), 0600);
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
