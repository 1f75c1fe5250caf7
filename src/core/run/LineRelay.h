#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace marrowbell {

// Hands batches of lines, in order, to a consumer on a thread of its own, so that the
// consumer's work (parsing each line of a chatty harness's stream) and the producer's
// (reading the harness's output) use two cores. What waits is bounded: `push` waits
// while `waitingLimit` bytes are queued.
class LineRelay {
public:
    using Consumer = std::function<void(std::span<const std::string_view> lines)>;
    static constexpr std::size_t waitingLimit = 1 << 20;

    explicit LineRelay(Consumer consumer);
    // Finishes; what the consumer threw is dropped.
    ~LineRelay();
    LineRelay(const LineRelay&) = delete;
    LineRelay& operator=(const LineRelay&) = delete;

    // Copies `lines` for the consumer (or, when no thread could be started, hands them
    // over at once).
    void push(std::span<const std::string_view> lines);
    // Returns once the consumer has taken every line pushed; rethrows the first thing
    // it threw (the lines after that went nowhere). Nothing may be pushed after.
    void finish();

private:
    struct Batch {
        std::string bytes;
        std::vector<std::size_t> ends; // of each line in `bytes`
        std::size_t weight() const { return bytes.size() + ends.size(); }
    };
    void consume(); // the thread

    const Consumer consumer_;
    bool threaded_ = false; // else the lines go to the consumer as they are pushed
    std::mutex mutex_;      // guards everything below but the thread
    std::condition_variable changed_;
    std::deque<Batch> queued_;
    std::vector<Batch> spare_; // emptied batches, kept for their memory
    std::size_t queuedWeight_ = 0;
    bool finishing_ = false;
    std::exception_ptr failure_;
    std::jthread thread_;
};

} // namespace marrowbell
