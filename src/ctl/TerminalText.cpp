#include "TerminalText.h"

#include <iostream>
#include <streambuf>

namespace marrowbell::ctl {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text` and its code
// point; 0 when it is not well-formed (or cut short).
std::size_t decode(std::string_view text, char32_t& codePoint) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

bool obeyed(char32_t c, bool keepLineBreaks) {
    if (c == '\t' || (keepLineBreaks && c == '\n'))
        return false;
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

void appendVisible(std::string& out, char32_t c) {
    static constexpr char hex[] = "0123456789ABCDEF";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(c >> shift) & 0xF];
}

// How many bytes at the end of `text` may start a UTF-8 sequence still to be completed.
std::size_t incompleteTail(std::string_view text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        std::size_t needed = (byte & 0xE0) == 0xC0   ? 2
                             : (byte & 0xF0) == 0xE0 ? 3
                             : (byte & 0xF8) == 0xF0 ? 4
                                                     : 1;
        return needed > back ? back : 0;
    }
    return 0;
}

// A stream buffer passing everything through `printable` to another one. Text is held
// until a flush, a full buffer, or a character completes, so a character written in
// two pieces is judged whole.
class TerminalSafeBuffer : public std::streambuf {
public:
    explicit TerminalSafeBuffer(std::streambuf* target)
        : target_(target) {}

    std::streambuf* target() const { return target_; }

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            pending_ += traits_type::to_char_type(c);
            if (pending_.size() >= bufferSize)
                pass(false);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        if (pending_.size() >= bufferSize)
            pass(false);
        return count;
    }
    int sync() override {
        pass(false);
        return target_->pubsync();
    }

private:
    static constexpr std::size_t bufferSize = 4096;

    void pass(bool all) {
        std::size_t keep = all ? 0 : incompleteTail(pending_);
        std::string safe = printable(std::string_view(pending_).substr(0, pending_.size() - keep),
                                     /*keepLineBreaks=*/true);
        target_->sputn(safe.data(), static_cast<std::streamsize>(safe.size()));
        pending_.erase(0, pending_.size() - keep);
    }

    std::streambuf* target_;
    std::string pending_;
};

TerminalSafeBuffer* standardOutput = nullptr;

} // namespace

std::string printable(std::string_view text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        // Plain printable ASCII, most of any text, is copied in runs.
        std::size_t plain = 0;
        while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F)
            ++plain;
        if (plain > 0) {
            out.append(text.substr(0, plain));
            text.remove_prefix(plain);
            continue;
        }
        char32_t c = 0;
        std::size_t length = decode(text, c);
        if (length == 0) {
            out += "\uFFFD";
            length = 1;
        } else if (obeyed(c, keepLineBreaks)) {
            appendVisible(out, c);
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out;
}

void makeStandardStreamsTerminalSafe() {
    if (standardOutput)
        return;
    // Never destroyed: the streams are flushed at exit, after static objects are gone.
    standardOutput = new TerminalSafeBuffer(std::cout.rdbuf());
    std::cout.rdbuf(standardOutput);
    std::cerr.rdbuf(new TerminalSafeBuffer(std::cerr.rdbuf()));
}

std::ostream& jsonOutput() {
    std::cout.flush();
    static std::ostream raw(standardOutput ? standardOutput->target() : std::cout.rdbuf());
    return raw;
}

} // namespace marrowbell::ctl
