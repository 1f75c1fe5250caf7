#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace marrowbell {

// Accumulates one output stream of a child process: splits it into lines for an
// optional callback and keeps the last 256 KiB for the outcome. Safe to call from
// several threads; the callback always runs outside the lock.
//
// The lines of one `ingest` are handed over together, so that their consumers (the
// transcript, the control channel) take their locks and make their writes once per
// chunk read rather than once per line.
class OutputSink {
public:
    using LineCallback = std::function<void(std::string_view line)>;
    // The lines of one call, in order; the views are valid until it returns.
    using LinesCallback = std::function<void(std::span<const std::string_view> lines)>;

    static constexpr std::size_t tailLimit = 262144;
    // A "line" longer than this with no newline in sight is delivered in pieces of
    // this size, so a child printing endless bytes without a newline cannot exhaust
    // memory: a run holds a few copies of a line at most (pending, decoded, parsed).
    // Real event lines are far shorter.
    static constexpr std::size_t lineLimit = 1u << 20;

    explicit OutputSink(LineCallback onLine = {});
    explicit OutputSink(LinesCallback onLines);

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
    mutable std::mutex lock_;
    std::string pending_;
    std::string tail_; // may hold up to twice the limit; only the last tailLimit bytes count
    LinesCallback onLines_;
};

} // namespace marrowbell
