#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace marrowbell {

// Accumulates one output stream of a child process: splits it into lines for an
// optional callback and keeps the last 256 KiB for the outcome. Safe to call from
// several threads; the callback always runs outside the lock.
class OutputSink {
public:
    using LineCallback = std::function<void(std::string_view line)>;

    static constexpr std::size_t tailLimit = 262144;
    // A "line" longer than this with no newline in sight is delivered in pieces of
    // this size, so a child printing endless bytes without a newline cannot exhaust
    // memory: a run holds a few copies of a line at most (pending, decoded, parsed).
    // Real event lines are far shorter.
    static constexpr std::size_t lineLimit = 1u << 20;

    explicit OutputSink(LineCallback onLine = {});

    // Appends bytes. Each newline (byte 10) completes a line: the bytes before it,
    // decoded as UTF-8 with invalid sequences replaced by U+FFFD, a carriage return
    // before the newline kept, empty lines included. Lines are delivered in order.
    void ingest(std::string_view bytes);

    // Delivers what is left after the last newline as a final line, if anything.
    void finish();

    // The last 256 KiB of the stream, repaired as UTF-8 (the first character may be
    // U+FFFD when the cut fell inside a multi-byte character).
    std::string text() const;

private:
    void deliver(std::string_view line) const;

    mutable std::mutex lock_;
    std::string pending_;
    std::string tail_; // may hold up to twice the limit; only the last tailLimit bytes count
    LineCallback onLine_;
};

} // namespace marrowbell
