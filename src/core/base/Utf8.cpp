#include "base/Utf8.h"

#include <cstdint>
#include <cstring>

namespace marrowbell::utf8 {

namespace {

// The length of the well-formed sequence starting at `at`, or, when it is not
// well-formed, minus the length of its maximal invalid subpart (at least 1).
int sequenceAt(const unsigned char* p, std::size_t left) {
    unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    int length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return -1;
    }
    for (int i = 1; i < length; ++i) {
        if (static_cast<std::size_t>(i) >= left)
            return -i;
        unsigned char c = p[i];
        bool ok = i == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
        if (!ok)
            return -i;
    }
    return length;
}

} // namespace

bool isAscii(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    // Four words at a time: the compiler turns this into vector loads.
    for (; i + 32 <= n; i += 32) {
        std::uint64_t words[4];
        std::memcpy(words, p + i, 32);
        if ((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ULL)
            return false;
    }
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; i < n; ++i)
        if (p[i] & 0x80)
            return false;
    return true;
}

bool isValid(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    while (i < n) {
        // Skip ASCII runs a word at a time; most output is ASCII.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i >= n)
            break;
        if (p[i] < 0x80) { // the last few bytes of an ASCII run
            ++i;
            continue;
        }
        int length = sequenceAt(p + i, n - i);
        if (length < 0)
            return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

std::string repaired(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    if (isAscii(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(n + 8);
    std::size_t i = 0;
    while (i < n) {
        int length = sequenceAt(p + i, n - i);
        if (length > 0) {
            out.append(bytes.data() + i, static_cast<std::size_t>(length));
            i += static_cast<std::size_t>(length);
        } else {
            out += "\xEF\xBF\xBD";
            i += static_cast<std::size_t>(-length);
        }
    }
    return out;
}

namespace {

// Length of the white-space character starting at `p`, or 0.
std::size_t spaceAt(const unsigned char* p, std::size_t left, bool andNewlines) {
    unsigned char c = p[0];
    if (c == ' ' || c == '\t')
        return 1;
    if (c >= 0x0A && c <= 0x0D)
        return andNewlines ? 1 : 0;
    if (c == 0xC2 && left >= 2)
        return p[1] == 0xA0 || (andNewlines && p[1] == 0x85) ? 2 : 0;
    if (left < 3)
        return 0;
    if (c == 0xE1)
        return p[1] == 0x9A && p[2] == 0x80 ? 3 : 0;
    if (c == 0xE2 && p[1] == 0x80)
        return (p[2] >= 0x80 && p[2] <= 0x8A) || p[2] == 0xAF ||
                       (andNewlines && (p[2] == 0xA8 || p[2] == 0xA9))
                   ? 3
                   : 0;
    if (c == 0xE2 && p[1] == 0x81)
        return p[2] == 0x9F ? 3 : 0;
    if (c == 0xE3)
        return p[1] == 0x80 && p[2] == 0x80 ? 3 : 0;
    return 0;
}

} // namespace

std::string_view trimmed(std::string_view text, bool andNewlines) {
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t begin = 0, end = text.size();
    while (begin < end) {
        std::size_t length = spaceAt(p + begin, end - begin, andNewlines);
        if (length == 0)
            break;
        begin += length;
    }
    while (end > begin) {
        // Step back to the start of the last character (at most three continuation bytes).
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 && (p[start] & 0xC0) == 0x80)
            --start;
        std::size_t length = spaceAt(p + start, end - start, andNewlines);
        if (length == 0 || start + length != end)
            break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string capped(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return std::string(text);
    static constexpr std::string_view ellipsis = "\u2026";
    std::size_t end = limit > ellipsis.size() ? limit - ellipsis.size() : 0;
    // Back off continuation bytes so no character is cut in half.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    std::string result(text.substr(0, end));
    result += ellipsis;
    return result;
}

} // namespace marrowbell::utf8
