#include "run/LineRelay.h"

#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace marrowbell;

// A consumer slower than the producer: every line arrives once, in order, and the
// producer is held back rather than queueing without bound.
TEST(LineRelayConcurrency, EveryLineArrivesInOrderAndWhatWaitsStaysBounded) {
    std::vector<std::string> received;
    std::size_t pushed = 0, mostAhead = 0;
    std::atomic<std::size_t> taken = 0;
    LineRelay relay([&](std::span<const std::string_view> lines) {
        for (std::string_view line : lines)
            received.emplace_back(line);
        taken += lines.size();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::string big(LineRelay::waitingLimit / 4, 'x');
    for (int batch = 0; batch < 40; ++batch) {
        std::vector<std::string> texts{std::to_string(batch), "", big};
        std::vector<std::string_view> lines(texts.begin(), texts.end());
        relay.push(lines);
        pushed += lines.size();
        mostAhead = std::max(mostAhead, pushed - taken);
    }
    relay.finish();
    ASSERT_EQ(received.size(), 120u);
    for (int batch = 0; batch < 40; ++batch)
        EXPECT_TRUE(received[3 * batch] == std::to_string(batch) &&
                    received[3 * batch + 1].empty() && received[3 * batch + 2] == big)
            << batch;
    EXPECT_LE(mostAhead, 3u * 6) << "at most a few batches wait";
}

TEST(LineRelayConcurrency, WhatTheConsumerThrewReachesFinish) {
    int calls = 0;
    LineRelay relay([&](std::span<const std::string_view>) {
        ++calls;
        throw std::runtime_error("parser failed");
    });
    std::string_view line = "one";
    relay.push({&line, 1});
    relay.push({&line, 1});
    EXPECT_THROW(relay.finish(), std::runtime_error);
    EXPECT_EQ(calls, 1) << "nothing reaches a consumer after it threw";
    EXPECT_NO_THROW(relay.finish());
}
