#pragma once

#include "run/RunEventParsing.h"
#include "run/RunSummary.h"

#include <mutex>
#include <span>
#include <string_view>

namespace marrowbell {

// Parses a stream line by line as it arrives, shared between the thread feeding it
// and the one reading the result.
class RunEventStream {
public:
    // Pick the parser with RunEventParsers::parser(format); it must outlive the stream.
    explicit RunEventStream(const RunEventParsing& parser)
        : parser_(parser) {}

    void ingest(std::string_view line);
    void ingest(std::span<const std::string_view> lines);

    // The summary so far with the end-of-stream rules applied to a copy; the stream
    // itself stays open, so this may be called again and ingesting may continue.
    RunSummary summary() const;

private:
    const RunEventParsing& parser_;
    mutable std::mutex lock_;
    RunSummary accumulated_;
};

} // namespace marrowbell
