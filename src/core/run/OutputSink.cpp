#include "run/OutputSink.h"

#include "base/Utf8.h"

#include <cstring>
#include <forward_list>
#include <functional>
#include <vector>

namespace marrowbell {

OutputSink::OutputSink(LineCallback onLine) {
    if (onLine)
        onLines_ = [onLine = std::move(onLine)](std::span<const std::string_view> lines) {
            for (std::string_view line : lines)
                onLine(line);
        };
}

OutputSink::OutputSink(LinesCallback onLines)
    : onLines_(std::move(onLines)) {}

namespace {

// Hands `lines` over, each repaired as UTF-8 when it is not (rare: most output is).
// Lines inside `checked`, known to be ASCII, are not looked at again.
void deliver(const OutputSink::LinesCallback& onLines, std::vector<std::string_view>& lines,
             std::string_view checked = {}) {
    std::forward_list<std::string> repaired; // stable addresses for the views
    std::less_equal<const char*> notAfter;   // a total order, unlike <= on pointers
    auto inChecked = [&](std::string_view line) {
        return notAfter(checked.data(), line.data()) &&
               notAfter(line.data() + line.size(), checked.data() + checked.size());
    };
    for (std::string_view& line : lines)
        if (!inChecked(line) && !utf8::isValid(line))
            line = repaired.emplace_front(utf8::repaired(line));
    if (!lines.empty())
        onLines(lines);
}

} // namespace

void OutputSink::ingest(std::string_view bytes) {
    if (bytes.empty())
        return;
    // Lines found in this call: the first may continue earlier pending bytes (owned),
    // the others are views into `bytes`, valid until this call returns.
    std::string continued;
    std::vector<std::string_view> lines;
    std::vector<std::string> oversized;
    {
        std::lock_guard guard(lock_);
        if (bytes.size() >= tailLimit) {
            tail_.assign(bytes.substr(bytes.size() - tailLimit));
        } else {
            tail_.append(bytes);
            if (tail_.size() > 2 * tailLimit)
                tail_.erase(0, tail_.size() - tailLimit);
        }
        if (!onLines_)
            return; // lines would go nowhere
        const char* begin = bytes.data();
        const char* end = begin + bytes.size();
        const char* newline = static_cast<const char*>(std::memchr(begin, '\n', bytes.size()));
        if (!newline) {
            pending_.append(bytes);
        } else {
            if (!pending_.empty()) {
                continued = std::move(pending_);
                pending_.clear();
                continued.append(begin, newline);
                lines.emplace_back(continued);
            } else {
                lines.emplace_back(begin, static_cast<std::size_t>(newline - begin));
            }
            const char* start = newline + 1;
            while (start < end) {
                newline = static_cast<const char*>(
                    std::memchr(start, '\n', static_cast<std::size_t>(end - start)));
                if (!newline)
                    break;
                lines.emplace_back(start, static_cast<std::size_t>(newline - start));
                start = newline + 1;
            }
            pending_.assign(start, end);
        }
        while (pending_.size() >= lineLimit) {
            oversized.emplace_back(pending_, 0, lineLimit);
            pending_.erase(0, lineLimit);
        }
    }
    for (const std::string& piece : oversized)
        lines.emplace_back(piece);
    // One pass over the whole read spares a check of each line in the common case.
    deliver(onLines_, lines, utf8::isAscii(bytes) ? bytes : std::string_view());
}

void OutputSink::finish() {
    std::string rest;
    {
        std::lock_guard guard(lock_);
        rest.swap(pending_);
    }
    if (!rest.empty() && onLines_) {
        std::vector<std::string_view> lines{rest};
        deliver(onLines_, lines);
    }
}

std::string OutputSink::text() const {
    std::lock_guard guard(lock_);
    std::string_view tail = tail_;
    if (tail.size() > tailLimit)
        tail.remove_prefix(tail.size() - tailLimit);
    return utf8::repaired(tail);
}

} // namespace marrowbell
