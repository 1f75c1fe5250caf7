#include "base/FileUrl.h"

#include <cctype>

namespace marrowbell {

// Characters a URL path keeps as they are; everything else is percent-encoded.
static bool isPathCharacter(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '/':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
        return true;
    default:
        return false;
    }
}

FileUrl FileUrl::fromPath(const std::filesystem::path& path, bool isDirectory) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text = "file://";
    for (unsigned char c : path.string()) {
        if (isPathCharacter(c)) {
            text.push_back(static_cast<char>(c));
        } else {
            text.push_back('%');
            text.push_back(hex[c >> 4]);
            text.push_back(hex[c & 0x0F]);
        }
    }
    if (isDirectory && text.back() != '/')
        text.push_back('/');
    return FileUrl{std::move(text)};
}

std::optional<FileUrl> FileUrl::parse(std::string_view text) {
    constexpr std::string_view scheme = "file://";
    if (text.size() < scheme.size())
        return std::nullopt;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i])
            return std::nullopt;
    std::string_view rest = text.substr(scheme.size());
    if (rest.starts_with("localhost"))
        rest.remove_prefix(9);
    if (!rest.starts_with('/'))
        return std::nullopt;
    return FileUrl{"file://" + std::string(rest)};
}

static int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::filesystem::path FileUrl::fsPath() const {
    std::string_view encoded = std::string_view(absoluteString).substr(7); // after "file://"
    if (auto end = encoded.find_first_of("?#"); end != std::string_view::npos)
        encoded = encoded.substr(0, end);
    std::string path;
    path.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            int high = hexValue(encoded[i + 1]), low = hexValue(encoded[i + 2]);
            if (high >= 0 && low >= 0) {
                path.push_back(static_cast<char>(high << 4 | low));
                i += 2;
                continue;
            }
        }
        path.push_back(encoded[i]);
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace marrowbell
