#pragma once

#include "base/FileLock.h"
#include "base/Files.h"
#include "base/Json.h"
#include "base/StoreError.h"

#include <cstddef>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace marrowbell {

// What a store's decoder made of its file: the value, and how many of the file's
// entries it had to leave out because they did not decode.
template <class Value> struct Decoded {
    Value value;
    std::size_t dropped = 0;
};

// The one file a store keeps its state in, and the rules every store follows with it:
// - Only a regular file of at most `maxBytes` is read, never blocking on a FIFO or a
//   device. An empty file reads as no file.
// - Loads and changes happen under an exclusive lock on the file shared by every
//   process (FileLock), and every change re-reads the file inside that lock, so two
//   processes changing it at once both keep their change.
// - A file that does not decode is moved aside to "{file}.damaged-{UTC time}" (0600) and
//   the store starts empty; a file where some entries do not decode keeps the others,
//   and a copy of it as it was is set aside the same way. A file that cannot be read
//   (permissions, I/O error, not a regular file) is never replaced: changes fail with
//   its error until it can be read.
// - Writes are atomic; a failed one throws StoreError, whose text is the message for
//   the user, and leaves the file as it was.
// What went wrong while loading is kept in `problems()`, one message each, so a front
// end can tell the user once. Safe to use from any thread.
class StoreFile {
public:
    enum class Damaged {
        setAside, // moved aside, and the store starts afresh
        refuse,   // left in place; loads report it and changes fail until the user acts
    };

    // `subject` names the content in messages ("the run history").
    StoreFile(std::filesystem::path path, std::string subject, std::size_t maxBytes, mode_t mode,
              Damaged damaged = Damaged::setAside);

    const std::filesystem::path& path() const { return path_; }

    // The decoded file, or `fallback` when it is missing, set aside or unreadable (the
    // reason kept in `problems()`). Never throws for the file's sake. `decode(const Json&)`
    // returns Decoded<Value> or throws when the document is unusable; `encode(const
    // Value&)` gives the bytes written back after entries were left out.
    template <class Value, class Decode, class Encode>
    Value load(const Decode& decode, const Encode& encode, Value fallback = {}) {
        // The file is only ever replaced whole, so reading it needs no lock; the lock is
        // taken to repair it, and the file read again under it.
        if (std::optional<Value> clean = readClean(decode, fallback))
            return std::move(*clean);
        std::optional<FileLock> lock;
        try {
            lock.emplace(path_);
        } catch (const std::system_error&) {
            // A folder we may not write to can still be read; nothing is repaired then.
        }
        Value value = fallback;
        try {
            bool rewrite = false;
            value = decodeLocked(readLocked(lock.has_value()), decode, fallback, lock.has_value(),
                                 rewrite);
            if (rewrite)
                write(encode(value)); // what decoded stays in memory even when this fails
        } catch (const StoreError& error) {
            report(error.what());
        }
        return value;
    }

    // One read-modify-write under the lock: decodes the file as it is now, applies
    // `change(Value&)`, writes the result and hands it to `written(const Value&)` while
    // the lock is still held (so updates of a copy in memory keep the file's order).
    // Throws StoreError when the file cannot be read, locked or written; the file is
    // unchanged then.
    template <class Value, class Decode, class Change, class Encode, class Written>
    Value update(const Decode& decode, Change&& change, const Encode& encode,
                 const Written& written, Value fallback = {}) {
        std::optional<FileLock> lock;
        try {
            lock.emplace(path_);
        } catch (const std::system_error& error) {
            throw StoreError::couldNotSave(subject_, error.code());
        }
        bool rewrite = false;
        Value value = decodeLocked(readLocked(true), decode, std::move(fallback), true, rewrite);
        change(value);
        write(encode(value));
        written(value);
        return value;
    }

    // The problems met while loading or changing the file, oldest first, each once.
    std::vector<std::string> problems() const;

    // The file's value when it is missing or decodes whole; none when it cannot be read or
    // needs repair. Takes no lock and never touches the file.
    template <class Value, class Decode>
    std::optional<Value> readClean(const Decode& decode, const Value& fallback) const {
        files::Content content = files::readBounded(path_, maxBytes_);
        if (content.state == files::Content::State::missing ||
            (content.state == files::Content::State::read && content.bytes.empty()))
            return fallback;
        if (content.state != files::Content::State::read)
            return std::nullopt;
        if (std::optional<Json> document = json::parse(content.bytes)) {
            try {
                Decoded<Value> decoded = decode(*document);
                if (decoded.dropped == 0)
                    return std::move(decoded.value);
            } catch (const std::exception&) {
            }
        }
        return std::nullopt;
    }

private:
    // The bytes of the file; none when there is none or it was set aside. Throws
    // StoreError when it cannot be read.
    std::optional<std::string> readLocked(bool mayRepair);

    template <class Value, class Decode>
    Value decodeLocked(std::optional<std::string> bytes, const Decode& decode, Value fallback,
                       bool mayRepair, bool& rewrite) {
        if (!bytes)
            return fallback;
        std::string why = "it is not JSON";
        if (std::optional<Json> document = json::parse(*bytes)) {
            try {
                Decoded<Value> decoded = decode(*document);
                if (decoded.dropped > 0 && mayRepair) {
                    keepCopy(*bytes, decoded.dropped);
                    rewrite = true;
                }
                return std::move(decoded.value);
            } catch (const std::exception& error) {
                why = error.what();
            }
        }
        damaged(why, mayRepair);
        return fallback;
    }

    // Moves the undecodable file aside (or refuses it). Throws StoreError when it stays.
    void damaged(const std::string& why, bool mayRepair);
    // Keeps the bytes of a partly decoded file aside before it is rewritten.
    void keepCopy(std::string_view bytes, std::size_t dropped);
    void write(std::string_view bytes);
    void report(std::string problem);
    std::filesystem::path freeDamagedName() const;

    const std::filesystem::path path_;
    const std::string subject_;
    const std::size_t maxBytes_;
    const mode_t mode_;
    const Damaged damaged_;
    mutable std::mutex mutex_; // guards problems_
    std::vector<std::string> problems_;
};

} // namespace marrowbell
