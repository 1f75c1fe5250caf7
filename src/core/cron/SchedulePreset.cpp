#include "cron/SchedulePreset.h"

#include "cron/Field.h"
#include "cron/ScheduleWords.h"

namespace marrowbell {

std::string_view rawValue(SchedulePresetKind kind) {
    switch (kind) {
    case SchedulePresetKind::everyMinutes:
        return "everyMinutes";
    case SchedulePresetKind::everyHours:
        return "everyHours";
    case SchedulePresetKind::daily:
        return "daily";
    case SchedulePresetKind::weekdays:
        return "weekdays";
    case SchedulePresetKind::weekly:
        return "weekly";
    case SchedulePresetKind::monthly:
        return "monthly";
    case SchedulePresetKind::custom:
        return "custom";
    }
    return "custom";
}

std::optional<SchedulePresetKind> schedulePresetKindFromRaw(std::string_view raw) {
    for (SchedulePresetKind kind : allSchedulePresetKinds)
        if (rawValue(kind) == raw)
            return kind;
    return std::nullopt;
}

std::string_view title(SchedulePresetKind kind) {
    switch (kind) {
    case SchedulePresetKind::everyMinutes:
        return "Every few minutes";
    case SchedulePresetKind::everyHours:
        return "Every few hours";
    case SchedulePresetKind::daily:
        return "Every day";
    case SchedulePresetKind::weekdays:
        return "Every weekday";
    case SchedulePresetKind::weekly:
        return "Every week";
    case SchedulePresetKind::monthly:
        return "Every month";
    case SchedulePresetKind::custom:
        return "Custom cron";
    }
    return "";
}

namespace {

std::string join(std::int64_t minute, std::int64_t hour, const std::string& rest) {
    return std::to_string(minute) + " " + std::to_string(hour) + " " + rest;
}

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

// "*/{n}" with n ≥ 1.
std::optional<std::int64_t> stepOf(std::string_view field) {
    if (field.substr(0, 2) != "*/")
        return std::nullopt;
    auto n = readCronInteger(field.substr(2));
    if (!n || *n < 1)
        return std::nullopt;
    return n;
}

} // namespace

std::string SchedulePreset::cron() const {
    return std::visit(
        Overloaded{
            [](const EveryMinutes& p) { return "*/" + std::to_string(p.interval) + " * * * *"; },
            [](const EveryHours& p) { return "0 */" + std::to_string(p.interval) + " * * *"; },
            [](const Daily& p) { return join(p.minute, p.hour, "* * *"); },
            [](const Weekdays& p) { return join(p.minute, p.hour, "* * 1-5"); },
            [](const Weekly& p) {
                return join(p.minute, p.hour, "* * " + std::to_string(p.weekday));
            },
            [](const Monthly& p) { return join(p.minute, p.hour, std::to_string(p.day) + " * *"); },
            [](const Custom& p) { return p.text; },
        },
        value);
}

std::optional<std::pair<std::int64_t, std::int64_t>> SchedulePreset::timeOfDay() const {
    return std::visit(
        Overloaded{
            [](const Daily& p) { return std::optional(std::pair(p.hour, p.minute)); },
            [](const Weekdays& p) { return std::optional(std::pair(p.hour, p.minute)); },
            [](const Weekly& p) { return std::optional(std::pair(p.hour, p.minute)); },
            [](const Monthly& p) { return std::optional(std::pair(p.hour, p.minute)); },
            [](const auto&) { return std::optional<std::pair<std::int64_t, std::int64_t>>(); },
        },
        value);
}

const std::vector<std::string>& SchedulePreset::weekdayNames() {
    return words::fullWeekdayNames();
}

SchedulePreset SchedulePreset::matching(std::string_view text) {
    const SchedulePreset custom{Custom{std::string(text)}};
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (fields.size() != 5)
        return custom;
    const std::string_view m = fields[0], h = fields[1], dom = fields[2], mon = fields[3],
                           dow = fields[4];
    if (mon != "*")
        return custom;
    if (auto n = stepOf(m); n && h == "*" && dom == "*" && dow == "*")
        return {EveryMinutes{*n}};
    if (auto n = stepOf(h); n && m == "0" && dom == "*" && dow == "*")
        return {EveryHours{*n}};
    auto minute = readCronInteger(m);
    auto hour = readCronInteger(h);
    if (!minute || !hour)
        return custom;
    if (dom == "*") {
        if (dow == "*")
            return {Daily{*hour, *minute}};
        if (dow == "1-5")
            return {Weekdays{*hour, *minute}};
        if (auto w = readCronInteger(dow); w && *w >= 0 && *w <= 7)
            return {Weekly{*w == 7 ? 0 : *w, *hour, *minute}};
    }
    if (dow == "*")
        if (auto d = readCronInteger(dom); d && *d >= 1 && *d <= 31)
            return {Monthly{*d, *hour, *minute}};
    return custom;
}

} // namespace marrowbell
