#include "control/ControlProtocol.h"

#include "base/HomeFolder.h"
#include "base/Utf8.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace marrowbell {

namespace fs = std::filesystem;

namespace {
// How every "output" event ends: its version, the object's end and the newline.
const std::string eventEnd = ",\"version\":" + std::to_string(ControlProtocol::version) + "}\n";
} // namespace

fs::path ControlProtocol::socketPath() {
    fs::path folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        folder = fs::path(runtime) / "marrowbell";
    else
        folder = fs::path(temporaryFolder()) / ("marrowbell-" + std::to_string(::getuid()));
    if (!isPrivateFolder(folder, /*strict=*/true))
        throw ControlError("The control folder " + folder.string() +
                           " is not a private folder of this user's (mode 0700); remove it.");
    return folder / "control";
}

std::string ControlProtocol::line(Json message) {
    message["version"] = version;
    std::string text = message.dump(-1, ' ', false, Json::error_handler_t::replace);
    text.push_back('\n');
    return text;
}

namespace {

constexpr std::uint64_t everyByte(unsigned char c) {
    return 0x0101010101010101ull * c;
}

// Whether any of the 8 bytes of `w` is below 0x20, a quote, a backslash or not ASCII:
// the bytes a JSON string cannot hold as they are, or that need a closer look.
bool needsCare(std::uint64_t w) {
    auto anyZero = [](std::uint64_t v) { return (v - everyByte(1)) & ~v & everyByte(0x80); };
    std::uint64_t control = (w - everyByte(0x20)) & ~w & everyByte(0x80);
    return (control | anyZero(w ^ everyByte('"')) | anyZero(w ^ everyByte('\\')) |
            (w & everyByte(0x80))) != 0;
}

// The length of the run of plain printable ASCII (no quote, no backslash) `text` opens
// with, looked at 8 bytes at a time: output lines are mostly that.
std::size_t plainPrefix(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, text.data() + i, 8);
        if (needsCare(w))
            break;
    }
    for (; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
            break;
    }
    return i;
}

} // namespace

void ControlProtocol::appendString(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t plain = plainPrefix(text);
    if (plain == text.size()) { // the common case: one copy
        out.append(text);
        out.push_back('"');
        return;
    }
    std::string repaired;
    if (!utf8::isValid(text.substr(plain))) {
        repaired = utf8::repaired(text);
        text = repaired;
    }
    std::size_t start = 0;
    for (std::size_t i = plain; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text, start, i - start);
        start = i + 1;
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            out.append("\\u00");
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    out.append(text, start, text.size() - start);
    out.push_back('"');
}

void ControlProtocol::appendOutputEvent(std::string& out, OutputChannel channel,
                                        std::string_view text) {
    out.append(R"({"event":"output","stream":")");
    out.append(name(channel));
    out.append(R"(","line":)");
    appendString(out, text);
    out.append(eventEnd);
}

bool ControlProtocol::decodeOutputEvent(std::string_view line, OutputChannel& channel,
                                        std::string& text) {
    constexpr std::string_view opening = R"({"event":"output","stream":")";
    if (!line.starts_with(opening) || !line.ends_with(eventEnd.substr(0, eventEnd.size() - 1)))
        return false;
    line.remove_prefix(opening.size());
    line.remove_suffix(eventEnd.size() - 1);
    std::size_t quote = line.find('"');
    if (quote == std::string_view::npos)
        return false;
    std::optional<OutputChannel> named = outputChannelNamed(line.substr(0, quote));
    constexpr std::string_view lineKey = R"(","line":")";
    if (!named || line.substr(quote, lineKey.size()) != lineKey)
        return false;
    line.remove_prefix(quote + lineKey.size());
    // `line` is now the string's content and its closing quote.
    if (line.empty() || line.back() != '"')
        return false;
    std::string_view content = line.substr(0, line.size() - 1);
    text.clear();
    bool ascii = true;
    std::size_t i = 0;
    while (i < content.size()) {
        std::size_t plain = plainPrefix(content.substr(i));
        text.append(content.substr(i, plain));
        i += plain;
        if (i == content.size())
            break;
        unsigned char c = static_cast<unsigned char>(content[i]);
        if (c >= 0x80) {
            ascii = false;
            text.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        if (c != '\\' || i + 1 >= content.size())
            return false; // a control character, or a quote before the end
        char escaped = content[i + 1];
        i += 2;
        switch (escaped) {
        case '"':
        case '\\':
        case '/':
            text.push_back(escaped);
            break;
        case 'b':
            text.push_back('\b');
            break;
        case 'f':
            text.push_back('\f');
            break;
        case 'n':
            text.push_back('\n');
            break;
        case 'r':
            text.push_back('\r');
            break;
        case 't':
            text.push_back('\t');
            break;
        case 'u': {
            if (i + 4 > content.size())
                return false;
            unsigned code = 0;
            for (char digit : content.substr(i, 4)) {
                code <<= 4;
                if (digit >= '0' && digit <= '9')
                    code |= static_cast<unsigned>(digit - '0');
                else if (digit >= 'a' && digit <= 'f')
                    code |= static_cast<unsigned>(digit - 'a' + 10);
                else if (digit >= 'A' && digit <= 'F')
                    code |= static_cast<unsigned>(digit - 'A' + 10);
                else
                    return false;
            }
            i += 4;
            if (code >= 0xD800 && code <= 0xDFFF)
                return false; // surrogates: left to the full parse
            if (code < 0x80) {
                text.push_back(static_cast<char>(code));
            } else if (code < 0x800) {
                text.push_back(static_cast<char>(0xC0 | (code >> 6)));
                text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
            } else {
                text.push_back(static_cast<char>(0xE0 | (code >> 12)));
                text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
            }
            break;
        }
        default:
            return false;
        }
    }
    // Raw bytes past ASCII must be UTF-8, as a JSON parser demands; escapes are ASCII,
    // so checking the raw content is the same check.
    if (!ascii && !utf8::isValid(content))
        return false;
    channel = *named;
    return true;
}

} // namespace marrowbell
