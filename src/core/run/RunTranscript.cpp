#include "run/RunTranscript.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace marrowbell {

namespace {

// Read for every line of output: the coarse clock costs a fraction of the precise one,
// and its few milliseconds of resolution are nothing beside the flush interval.
std::chrono::nanoseconds coarseNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace

namespace {

int createFile(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), path.string());
    ::fchmod(fd, 0600); // an older file of the same name keeps its mode otherwise
    return fd;
}

bool writeWhole(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n > 0)
            bytes.remove_prefix(static_cast<std::size_t>(n));
        else if (!(n < 0 && errno == EINTR))
            return false;
    }
    return true;
}

} // namespace

RunTranscript::RunTranscript(const std::filesystem::path& path)
    : fd_(createFile(path))
    , lastWrite_(coarseNow()) {
    buffer_.reserve(bufferLimit + 4096);
    writing_.reserve(bufferLimit + 4096);
    writer_ = std::jthread([this] { writeHandedOver(); });
}

RunTranscript::~RunTranscript() {
    flush();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    writer_.join();
    ::close(fd_);
}

void RunTranscript::append(OutputChannel channel, std::string_view text) {
    append(channel, std::span<const std::string_view>(&text, 1));
}

void RunTranscript::append(OutputChannel channel, std::span<const std::string_view> lines) {
    std::string_view prefix = transcriptPrefix(channel);
    std::unique_lock lock(mutex_);
    if (failed_)
        return;
    for (std::string_view text : lines) {
        buffer_.append(prefix);
        buffer_.append(text);
        buffer_.push_back('\n');
        // Whole lines only, and the buffer stays bounded whatever the batch holds.
        if (buffer_.size() >= bufferLimit && (!busy_ || buffer_.size() >= bufferCap))
            handOver(lock);
    }
    // Lines that waited long enough go now, unless the writer is still busy: then
    // they go with the next hand-over, which follows its write at once.
    if (!busy_ && coarseNow() - lastWrite_ >= flushInterval)
        handOver(lock);
}

void RunTranscript::flush() {
    std::unique_lock lock(mutex_);
    handOver(lock);
    changed_.wait(lock, [this] { return !busy_; });
}

void RunTranscript::handOver(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return !busy_; });
    lastWrite_ = coarseNow();
    if (failed_)
        buffer_.clear();
    if (buffer_.empty())
        return;
    buffer_.swap(writing_);
    busy_ = true;
    changed_.notify_all();
}

void RunTranscript::writeHandedOver() {
    pthread_setname_np(pthread_self(), "mb.transcript");
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || closing_; });
        if (!busy_)
            return;
        lock.unlock();
        // The transcript ends at a failed write; readers ignore a partly written last line.
        bool written = writeWhole(fd_, writing_);
        writing_.clear();
        lock.lock();
        failed_ = failed_ || !written;
        busy_ = false;
        changed_.notify_all();
    }
}

TranscriptReader::TranscriptReader(const std::filesystem::path& path, std::uint64_t end)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW))
    , end_(end) {}

TranscriptReader::~TranscriptReader() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::pair<OutputChannel, std::string_view> TranscriptReader::classify(std::string_view line) {
    for (OutputChannel channel : {OutputChannel::standardError, OutputChannel::warning}) {
        std::string_view prefix = transcriptPrefix(channel);
        if (line.starts_with(prefix))
            return {channel, line.substr(prefix.size())};
    }
    return {OutputChannel::standardOutput, line};
}

bool TranscriptReader::read(std::size_t budget, const LineHandler& onLine) {
    if (fd_ < 0 || offset_ >= end_)
        return false;
    std::size_t wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::size_t>(budget, 4096), end_ - offset_));
    std::size_t start = pending_.size();
    pending_.resize(start + wanted);
    ssize_t n;
    do
        n = ::pread(fd_, pending_.data() + start, wanted, static_cast<off_t>(offset_));
    while (n < 0 && errno == EINTR);
    if (n <= 0) {
        pending_.resize(start);
        return false;
    }
    pending_.resize(start + static_cast<std::size_t>(n));
    offset_ += static_cast<std::uint64_t>(n);
    std::string_view view = pending_;
    std::size_t from = 0;
    for (std::size_t newline; (newline = view.find('\n', from)) != std::string_view::npos;
         from = newline + 1) {
        auto [channel, text] = classify(view.substr(from, newline - from));
        onLine(channel, text);
    }
    pending_.erase(0, from);
    return offset_ < end_;
}

} // namespace marrowbell
