#include "run/RunEventStream.h"

namespace marrowbell {

void RunEventStream::ingest(std::string_view line) {
    std::lock_guard guard(lock_);
    parser_.read(line, accumulated_);
}

void RunEventStream::ingest(std::span<const std::string_view> lines) {
    std::lock_guard guard(lock_);
    parser_.readLines(lines, accumulated_);
}

RunSummary RunEventStream::summary() const {
    RunSummary copy;
    {
        std::lock_guard guard(lock_);
        copy = accumulated_;
    }
    parser_.finish(copy);
    return copy;
}

} // namespace marrowbell
