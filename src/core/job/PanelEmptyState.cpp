#include "job/PanelEmptyState.h"

#include <memory>
#include <unicode/listformatter.h>
#include <unicode/locid.h>

namespace marrowbell {

std::optional<PanelEmptyState>
PanelEmptyState::state(std::size_t jobCount, const std::vector<std::string>& installed,
                       const std::vector<std::string>& knownDisplayNames) {
    if (jobCount > 0)
        return std::nullopt;
    if (!installed.empty())
        return PanelEmptyState{Kind::noJobs, {}};
    return PanelEmptyState{Kind::noHarness, knownDisplayNames};
}

std::string PanelEmptyState::message(const char* locale) const {
    if (kind == Kind::noJobs)
        return "No jobs yet. Create one to get started.";
    if (installable.empty())
        return "No agent tool found. Install one to get started.";
    return "No agent tool found. Marrowbell runs " + orList(installable, locale) +
           " — install one, then create a job.";
}

std::string orList(const std::vector<std::string>& items, const char* locale) {
    icu::Locale where = locale ? icu::Locale(locale) : icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::ListFormatter> formatter(
        icu::ListFormatter::createInstance(where, ULISTFMT_TYPE_OR, ULISTFMT_WIDTH_WIDE, status));
    std::vector<icu::UnicodeString> strings;
    for (const std::string& item : items)
        strings.push_back(icu::UnicodeString::fromUTF8(item));
    icu::UnicodeString joined;
    if (U_SUCCESS(status) && formatter)
        formatter->format(strings.data(), static_cast<int32_t>(strings.size()), joined, status);
    if (U_FAILURE(status) || !formatter) {
        // Without locale data, fall back to the English form.
        std::string text;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0)
                text += items.size() == 2 ? " or " : (i + 1 == items.size() ? ", or " : ", ");
            text += items[i];
        }
        return text;
    }
    std::string text;
    joined.toUTF8String(text);
    return text;
}

} // namespace marrowbell
