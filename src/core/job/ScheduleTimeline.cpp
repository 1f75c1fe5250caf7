#include "job/ScheduleTimeline.h"

#include "base/IcuLibrary.h"

#include <algorithm>
#include <cmath>

namespace marrowbell {

ScheduleTimeline ScheduleTimeline::upcoming(const std::vector<Job>& jobs, Instant start,
                                            double hours, std::int64_t limitPerJob) {
    ScheduleTimeline timeline{start, start + hours * 3600.0, {}};
    for (const Job& job : jobs) {
        if (job.isPaused || limitPerJob < 1)
            continue;
        // Resolved once per job rather than on every step of its search.
        const TimeZone zone = job.timeZone();
        Instant cursor = start;
        for (std::int64_t i = 0; i < limitPerJob; ++i) {
            const auto next = job.schedule.nextDate(cursor, zone);
            if (!next || *next > timeline.end)
                break;
            timeline.marks.push_back(Mark{Uuid::random(), job.id, job.name, *next});
            cursor = *next;
        }
    }
    std::stable_sort(timeline.marks.begin(), timeline.marks.end(),
                     [](const Mark& a, const Mark& b) { return a.date < b.date; });
    return timeline;
}

double ScheduleTimeline::position(const Mark& mark) const {
    const Seconds length = duration();
    // Also guards a window built from non-finite hours.
    if (!(length > 0) || !std::isfinite(length))
        return 0;
    const double fraction = (mark.date - start) / length;
    if (std::isnan(fraction))
        return 0;
    return std::clamp(fraction, 0.0, 1.0);
}

std::vector<ScheduleTimeline::Mark> ScheduleTimeline::imminent(Seconds seconds) const {
    std::vector<Mark> result;
    for (const Mark& mark : marks) {
        if (mark.date - start <= seconds)
            result.push_back(mark);
    }
    return result;
}

std::vector<ScheduleTimeline::GridLabel>
ScheduleTimeline::gridLabels(int count, const char* locale,
                             const std::optional<TimeZone>& zone) const {
    const Seconds length = duration();
    if (count < 1 || !(length > 0) || !std::isfinite(length))
        return {};
    const TimeZone inZone = zone ? *zone : TimeZone::system();
    const IcuLibrary* icu = IcuLibrary::get();
    IcuLibrary::Owned<UDateFormat> format(nullptr, nullptr);
    if (icu) {
        // A null locale is ICU's default one. It formats the wall time our zone shows,
        // as if in UTC: ICU need not know the zone.
        UErrorCode status = U_ZERO_ERROR;
        format = {
            icu->udat_open(UDAT_PATTERN, UDAT_PATTERN, locale, u"UTC", -1, u"h a", -1, &status),
            icu->udat_close};
        if (U_FAILURE(status))
            format.reset();
    }
    // The hour in the locale's form, in capitals; none without ICU or its data.
    auto formatted = [&](Instant instant) -> std::optional<std::string> {
        if (!format)
            return std::nullopt;
        UErrorCode status = U_ZERO_ERROR;
        const std::u16string text = IcuLibrary::written(
            [&](UChar* buffer, int32_t capacity, UErrorCode& error) {
                const double wall =
                    instant.unixMilliseconds() + inZone.offsetSeconds(instant) * 1000.0;
                return icu->udat_format(format.get(), wall, buffer, capacity, nullptr, &error);
            },
            status);
        const std::u16string upper = IcuLibrary::written(
            [&](UChar* buffer, int32_t capacity, UErrorCode& error) {
                return icu->u_strToUpper(buffer, capacity, text.data(),
                                         static_cast<int32_t>(text.size()), locale, &error);
            },
            status);
        if (U_FAILURE(status))
            return std::nullopt;
        return icu->utf8(upper);
    };

    std::vector<GridLabel> labels;
    labels.reserve(static_cast<std::size_t>(count) + 1);
    labels.push_back({0.0, "NOW"});
    for (int i = 1; i <= count; ++i) {
        const double fraction = static_cast<double>(i) / count;
        const Instant instant = start + fraction * length;
        std::optional<std::string> title = formatted(instant);
        if (!title) {
            // Without locale data: the English form in the zone.
            const LocalDateTime local = inZone.local(instant);
            const int hour12 = local.hour % 12 == 0 ? 12 : local.hour % 12;
            title = std::to_string(hour12) + (local.hour < 12 ? " AM" : " PM");
        }
        labels.push_back({fraction, std::move(*title)});
    }
    return labels;
}

std::string ScheduleTimeline::summary() const {
    if (marks.empty())
        return "Nothing scheduled in the next 24 hours";
    const std::size_t count = marks.size();
    const std::size_t soon = imminent(3600).size();
    std::string text = "Next 24 hours · " + std::to_string(count) + " run";
    if (count != 1)
        text += "s";
    if (soon > 0)
        text += ", " + std::to_string(soon) + " within the hour";
    return text;
}

} // namespace marrowbell
