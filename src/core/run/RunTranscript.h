#pragma once

#include "run/OutputChannel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

namespace marrowbell {

// The complete output of one run, written to a file of its own while the run goes on:
// standard output lines verbatim, standard error and warnings marked with
// `transcriptPrefix`, one line per line. Lines are buffered (never the whole output)
// and written whole, so a writer killed at any moment leaves a file that is readable
// up to its last complete line. A write that fails (a full disk) ends the writing
// silently; the run goes on. Safe to call from several threads.
//
// A thread of its own writes the file while the caller fills the next buffer, so the
// kernel's copy into the page cache does not hold up the reading of a harness that
// prints as fast as it can. At most two buffers exist: one that is full goes to the
// writer when it is free, and grows meanwhile up to `bufferCap`, where the caller
// waits for the writer.
class RunTranscript {
public:
    static constexpr std::size_t bufferLimit = 64 * 1024;
    static constexpr std::size_t bufferCap = 1024 * 1024;
    // Buffered lines older than this are written at the next line or `flush`.
    static constexpr std::chrono::milliseconds flushInterval{100};

    // Creates `path` afresh with mode 0600. Throws std::system_error.
    explicit RunTranscript(const std::filesystem::path& path);
    // Writes what is buffered and closes the file.
    ~RunTranscript();
    RunTranscript(const RunTranscript&) = delete;
    RunTranscript& operator=(const RunTranscript&) = delete;

    void append(OutputChannel channel, std::string_view text);
    void append(OutputChannel channel, std::span<const std::string_view> lines);
    // Writes what is buffered; returns once it is in the file.
    void flush();

private:
    // Gives the buffer to the writer once it is idle; with `lock` held.
    void handOver(std::unique_lock<std::mutex>& lock);
    void writeHandedOver(); // the writer thread

    const int fd_;
    std::mutex mutex_; // guards everything below but the thread
    std::condition_variable changed_;
    std::string buffer_;  // appended to, whole lines only
    std::string writing_; // the writer's while `busy_`
    bool busy_ = false;
    bool failed_ = false; // a write failed: the transcript ends there
    bool closing_ = false;
    std::chrono::nanoseconds lastWrite_; // by the coarse monotonic clock
    std::jthread writer_;
};

// Reads a transcript from its start up to `end` bytes (the whole file when none), one
// complete line at a time: a last line without its newline (its writer was killed, or
// is still writing it) is left out. Reads in pieces, so a transcript of any size takes
// little memory.
class TranscriptReader {
public:
    using LineHandler = std::function<void(OutputChannel channel, std::string_view text)>;

    explicit TranscriptReader(const std::filesystem::path& path, std::uint64_t end = UINT64_MAX);
    ~TranscriptReader();
    TranscriptReader(const TranscriptReader&) = delete;
    TranscriptReader& operator=(const TranscriptReader&) = delete;

    // Whether the file could be opened.
    bool isOpen() const { return fd_ >= 0; }
    // Hands the lines of about the next `budget` bytes to `onLine`, in order; false
    // once everything up to the end was handed over (or the file cannot be read).
    bool read(std::size_t budget, const LineHandler& onLine);

    // A transcript line split into its channel and its text.
    static std::pair<OutputChannel, std::string_view> classify(std::string_view line);

private:
    int fd_ = -1;
    std::uint64_t offset_ = 0;
    std::uint64_t end_;
    std::string pending_;
};

} // namespace marrowbell
