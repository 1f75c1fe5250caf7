#include "editor/ScheduleControls.h"

#include "cron/SchedulePreset.h"

#include <cstdint>
#include <type_traits>

namespace marrowbell::app {

namespace {

bool within(std::int64_t value, int low, int high) {
    return value >= low && value <= high;
}

} // namespace

void ScheduleControls::load(const std::string& cron) {
    const SchedulePreset preset = SchedulePreset::matching(cron);
    const auto time = preset.timeOfDay();
    bool shown = !time || (within(time->first, 0, 23) && within(time->second, 0, 59));
    std::visit(
        [&](const auto& shape) {
            using Shape = std::decay_t<decltype(shape)>;
            if constexpr (std::is_same_v<Shape, SchedulePreset::EveryMinutes>)
                shown = within(shape.interval, minInterval, maxMinutes);
            else if constexpr (std::is_same_v<Shape, SchedulePreset::EveryHours>)
                shown = within(shape.interval, minInterval, maxHours);
            if (!shown)
                return;
            if constexpr (std::is_same_v<Shape, SchedulePreset::EveryMinutes> ||
                          std::is_same_v<Shape, SchedulePreset::EveryHours>)
                interval = int(shape.interval);
            else if constexpr (std::is_same_v<Shape, SchedulePreset::Weekly>)
                weekday = int(shape.weekday);
            else if constexpr (std::is_same_v<Shape, SchedulePreset::Monthly>)
                dayOfMonth = int(shape.day);
        },
        preset.value);
    if (!shown) {
        kind = SchedulePresetKind::custom;
        return;
    }
    kind = preset.kind();
    if (time) {
        hour = int(time->first);
        minute = int(time->second);
    }
}

std::optional<std::string> ScheduleControls::cron() const {
    SchedulePreset preset;
    switch (kind) {
    case SchedulePresetKind::everyMinutes:
        preset.value = SchedulePreset::EveryMinutes{interval};
        break;
    case SchedulePresetKind::everyHours:
        preset.value = SchedulePreset::EveryHours{interval};
        break;
    case SchedulePresetKind::daily:
        preset.value = SchedulePreset::Daily{hour, minute};
        break;
    case SchedulePresetKind::weekdays:
        preset.value = SchedulePreset::Weekdays{hour, minute};
        break;
    case SchedulePresetKind::weekly:
        preset.value = SchedulePreset::Weekly{weekday, hour, minute};
        break;
    case SchedulePresetKind::monthly:
        preset.value = SchedulePreset::Monthly{dayOfMonth, hour, minute};
        break;
    case SchedulePresetKind::custom:
        return std::nullopt;
    }
    return preset.cron();
}

bool ScheduleControls::hasTime() const {
    return kind == SchedulePresetKind::daily || kind == SchedulePresetKind::weekdays ||
           kind == SchedulePresetKind::weekly || kind == SchedulePresetKind::monthly;
}

} // namespace marrowbell::app
