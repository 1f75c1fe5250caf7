#include "control/ControlProtocol.h"

#include "base/HomeFolder.h"
#include "base/Utf8.h"

#include <cstdlib>
#include <unistd.h>

namespace marrowbell {

namespace fs = std::filesystem;

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

void ControlProtocol::appendString(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string repaired;
    if (!utf8::isValid(text)) {
        repaired = utf8::repaired(text);
        text = repaired;
    }
    out.push_back('"');
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
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
    out.append(",\"version\":");
    out.append(std::to_string(version));
    out.append("}\n");
}

} // namespace marrowbell
