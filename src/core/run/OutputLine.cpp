#include "run/OutputLine.h"

#include "base/Utf8.h"

#include <algorithm>

namespace marrowbell::OutputLine {

namespace {

struct SniffedType {
    bool sure = false;                    // false: escapes in a key or the type; parse it all
    std::optional<std::string_view> type; // the last top-level "type" when it is a string
};

// Finds the top-level "type" of text that opens with '{' without building anything.
// Exact for valid JSON (where, as in the full parse, a repeated key's last value
// counts); what it says about invalid text does not matter, that text is rejected later.
SniffedType sniffType(std::string_view text) {
    SniffedType sniffed;
    std::size_t i = 1, n = text.size();
    int depth = 1;
    bool expectKey = true;
    // Reads a string whose opening quote is at text[i]; leaves i after the closing one.
    auto readString = [&](bool& escaped) {
        std::size_t start = ++i;
        escaped = false;
        while (i < n && text[i] != '"') {
            if (text[i] == '\\') {
                escaped = true;
                ++i;
            }
            ++i;
        }
        std::string_view content = text.substr(start, std::min(i, n) - start);
        ++i;
        return content;
    };
    auto skipSpace = [&] {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
            ++i;
    };
    while (i < n && depth > 0) {
        char c = text[i];
        if (c == '"') {
            bool escaped;
            std::string_view content = readString(escaped);
            if (depth != 1 || !expectKey)
                continue;
            if (escaped)
                return {};
            expectKey = false;
            if (content != "type")
                continue;
            skipSpace();
            if (i < n && text[i] == ':') {
                ++i;
                skipSpace();
            }
            if (i < n && text[i] == '"') {
                std::string_view value = readString(escaped);
                if (escaped)
                    return {};
                sniffed.type = value;
            } else {
                sniffed.type.reset();
            }
            continue;
        }
        if (c == '{' || c == '[')
            ++depth;
        else if (c == '}' || c == ']')
            --depth;
        else if (c == ',' && depth == 1)
            expectKey = true;
        ++i;
    }
    sniffed.sure = true;
    return sniffed;
}

} // namespace

std::optional<std::string_view> plainText(std::string_view line) {
    std::string_view trimmed = utf8::trimmed(line, false);
    if (!trimmed.empty() && trimmed.front() == '{')
        return std::nullopt;
    return trimmed;
}

std::optional<Json> decode(std::string_view line, RunSummary& summary,
                           std::initializer_list<std::string_view> types) {
    std::string_view trimmed = utf8::trimmed(line, false);
    if (trimmed.empty())
        return std::nullopt;
    // Only text that opens like an object can be one; skip parsing everything else.
    if (trimmed.front() == '{') {
        if (types.size() != 0) {
            SniffedType sniffed = sniffType(trimmed);
            bool wanted =
                sniffed.type && std::find(types.begin(), types.end(), *sniffed.type) != types.end();
            if (sniffed.sure && !wanted) {
                if (Json::accept(trimmed))
                    return std::nullopt; // an object of a type the caller ignores
                summary.append(RunEvent::Kind::message, trimmed);
                return std::nullopt;
            }
        }
        Json value = Json::parse(trimmed, nullptr, false);
        if (value.is_object())
            return value;
    }
    summary.append(RunEvent::Kind::message, trimmed);
    return std::nullopt;
}

} // namespace marrowbell::OutputLine
