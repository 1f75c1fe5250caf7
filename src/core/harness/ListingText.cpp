#include "harness/ListingText.h"

#include "base/Utf8.h"

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

std::vector<std::string> cells(std::string_view line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        std::size_t gap = line.find("  ", start);
        std::string_view cell =
            utf8::trimmed(line.substr(start, gap == std::string_view::npos ? std::string_view::npos
                                                                           : gap - start),
                          false);
        if (!cell.empty())
            out.emplace_back(cell);
        if (gap == std::string_view::npos)
            break;
        start = gap + 2;
    }
    return out;
}

} // namespace marrowbell::listing
