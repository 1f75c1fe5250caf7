#include "harness/ListingText.h"

namespace marrowbell::listing {

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r')
            continue;
        out.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        out.push_back(text.substr(start));
    return out;
}

static std::string_view trimmedOf(std::string_view text, const char* set) {
    std::size_t first = text.find_first_not_of(set);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(set) - first + 1);
}

std::string_view trimmed(std::string_view text) {
    return trimmedOf(text, " \t");
}

std::string_view trimmedWhitespace(std::string_view text) {
    return trimmedOf(text, " \t\r\n\v\f");
}

std::vector<std::string> cells(std::string_view line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        std::size_t gap = line.find("  ", start);
        std::string_view cell = trimmed(line.substr(
            start, gap == std::string_view::npos ? std::string_view::npos : gap - start));
        if (!cell.empty())
            out.emplace_back(cell);
        if (gap == std::string_view::npos)
            break;
        start = gap + 2;
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        int extra;
        if (byte < 0x80)
            extra = 0;
        else if ((byte & 0xE0) == 0xC0)
            extra = 1;
        else if ((byte & 0xF0) == 0xE0)
            extra = 2;
        else if ((byte & 0xF8) == 0xF0)
            extra = 3;
        else
            return false;
        unsigned int code = extra == 0 ? byte : byte & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size())
                return false;
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if ((extra == 1 && code < 0x80) || (extra == 2 && code < 0x800) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

} // namespace marrowbell::listing
