#include "TerminalText.h"

namespace marrowbell::ctl {

std::string printable(std::string_view text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && !(keepLineBreaks && c == '\n')) || byte == 0x7F)
            out += "\uFFFD";
        else
            out += c;
    }
    return out;
}

} // namespace marrowbell::ctl
