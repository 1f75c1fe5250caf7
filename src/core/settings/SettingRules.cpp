#include "settings/SettingRules.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

namespace marrowbell {

namespace {

constexpr std::array<std::string_view, 5> units{"bytes", "KiB", "MiB", "GiB", "TiB"};

std::string counted(int n, std::string_view unit) {
    return std::to_string(n) + " " + std::string(unit) + (n == 1 ? "" : "s");
}

} // namespace

std::optional<SettingRules::CatchUpChoice> SettingRules::catchUpChoice(Seconds graceSeconds) {
    for (const CatchUpChoice& choice : catchUpChoices)
        if (choice.graceSeconds == graceSeconds)
            return choice;
    return std::nullopt;
}

int SettingRules::timeoutMinutes(Seconds timeoutSeconds) {
    const double minutes = std::trunc(timeoutSeconds / 60);
    return std::isnan(minutes) ? 0 : static_cast<int>(std::clamp(minutes, -1e9, 1e9));
}

std::string SettingRules::timeoutLabel(int minutes) {
    if (minutes < 60)
        return counted(minutes, "minute");
    const int rest = minutes % 60;
    return counted(minutes / 60, "hour") + (rest ? " " + counted(rest, "minute") : "");
}

std::optional<std::uint64_t> SettingRules::transcriptLimit(std::string_view text) {
    double number = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || stop == text.data() || !(number >= 0))
        return std::nullopt;
    std::string unit(stop, end);
    for (char& c : unit)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (unit.ends_with("IB"))
        unit.erase(unit.size() - 2);
    else if (unit.size() == 2 && unit.back() == 'B')
        unit.pop_back();
    static constexpr std::string_view letters = "KMGT";
    double bytes = number;
    if (unit.size() == 1 && letters.find(unit[0]) != std::string_view::npos)
        bytes = std::ldexp(number, 10 * (1 + static_cast<int>(letters.find(unit[0]))));
    else if (!unit.empty() && unit != "B")
        return std::nullopt;
    bytes = std::floor(bytes);
    if (bytes < double(minTranscriptLimitBytes) || bytes > double(maxTranscriptLimitBytes))
        return std::nullopt;
    return static_cast<std::uint64_t>(bytes);
}

std::string SettingRules::sizeText(std::uint64_t bytes) {
    std::size_t unit = 0;
    while (unit + 1 < units.size() && bytes != 0 && bytes % 1024 == 0) {
        bytes /= 1024;
        ++unit;
    }
    return std::to_string(bytes) + " " + std::string(units[unit]);
}

} // namespace marrowbell
