#include "job/PanelEmptyState.h"

#include "base/IcuLibrary.h"

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
    if (const IcuLibrary* icu = IcuLibrary::get()) {
        // A null locale is ICU's default one.
        UErrorCode status = U_ZERO_ERROR;
        IcuLibrary::Owned<UListFormatter> formatter(
            icu->ulistfmt_openForType(locale, ULISTFMT_TYPE_OR, ULISTFMT_WIDTH_WIDE, &status),
            icu->ulistfmt_close);
        if (U_SUCCESS(status) && formatter) {
            std::vector<std::u16string> strings;
            for (const std::string& item : items)
                strings.push_back(icu->utf16(item));
            std::vector<const UChar*> pointers;
            std::vector<int32_t> lengths;
            for (const std::u16string& string : strings) {
                pointers.push_back(string.data());
                lengths.push_back(static_cast<int32_t>(string.size()));
            }
            std::u16string joined = IcuLibrary::written(
                [&](UChar* buffer, int32_t capacity, UErrorCode& error) {
                    return icu->ulistfmt_format(formatter.get(), pointers.data(), lengths.data(),
                                                static_cast<int32_t>(pointers.size()), buffer,
                                                capacity, &error);
                },
                status);
            if (U_SUCCESS(status))
                return icu->utf8(joined);
        }
    }
    // Without ICU or its locale data, the English form.
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += items.size() == 2 ? " or " : (i + 1 == items.size() ? ", or " : ", ");
        text += items[i];
    }
    return text;
}

} // namespace marrowbell
