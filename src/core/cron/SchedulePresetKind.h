#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace marrowbell {

// The shapes the schedule picker offers, in its order. The raw value (and `id`) is
// the case name.
enum class SchedulePresetKind {
    everyMinutes,
    everyHours,
    daily,
    weekdays,
    weekly,
    monthly,
    custom
};

inline constexpr std::array<SchedulePresetKind, 7> allSchedulePresetKinds{
    SchedulePresetKind::everyMinutes, SchedulePresetKind::everyHours, SchedulePresetKind::daily,
    SchedulePresetKind::weekdays,     SchedulePresetKind::weekly,     SchedulePresetKind::monthly,
    SchedulePresetKind::custom};

std::string_view rawValue(SchedulePresetKind kind);
inline std::string_view id(SchedulePresetKind kind) {
    return rawValue(kind);
}
std::optional<SchedulePresetKind> schedulePresetKindFromRaw(std::string_view raw);
// "Every few minutes", "Every few hours", "Every day", "Every weekday", "Every week",
// "Every month", "Custom cron".
std::string_view title(SchedulePresetKind kind);

} // namespace marrowbell
