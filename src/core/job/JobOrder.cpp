#include "job/JobOrder.h"

#include "base/IcuLibrary.h"

#include <algorithm>
#include <numeric>

namespace marrowbell::JobOrder {

namespace {

using Collator = IcuLibrary::Owned<UCollator>;

// The user's locale (ICU reads LC_ALL / LC_COLLATE / LANG), secondary strength so
// case does not count but accents do, and digit runs compared as numbers. The C
// locale maps to en_US_POSIX, whose byte order would put "Zebra" before "apple", so
// it gets the root order instead. Null without ICU.
Collator nameCollator() {
    const IcuLibrary* icu = IcuLibrary::get();
    if (!icu)
        return {nullptr, nullptr};
    UErrorCode status = U_ZERO_ERROR;
    const char* locale = icu->uloc_getDefault();
    char variant[ULOC_FULLNAME_CAPACITY] = {};
    icu->uloc_getVariant(locale, variant, sizeof variant, &status);
    if (U_SUCCESS(status) && std::string_view(variant) == "POSIX")
        locale = "";
    status = U_ZERO_ERROR;
    Collator collator(icu->ucol_open(locale, &status), icu->ucol_close);
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu->ucol_open("", &status));
        if (U_FAILURE(status) || !collator)
            return {nullptr, nullptr};
    }
    icu->ucol_setStrength(collator.get(), UCOL_SECONDARY);
    icu->ucol_setAttribute(collator.get(), UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    return collator;
}

// Byte order when there is no collator.
bool before(const UCollator* collator, std::string_view a, std::string_view b) {
    if (!collator)
        return a < b;
    UErrorCode status = U_ZERO_ERROR;
    auto order =
        IcuLibrary::get()->ucol_strcollUTF8(collator, a.data(), static_cast<int32_t>(a.size()),
                                            b.data(), static_cast<int32_t>(b.size()), &status);
    return U_SUCCESS(status) && order == UCOL_LESS;
}

} // namespace

std::vector<Job> active(const std::vector<Job>& jobs, const std::unordered_set<Uuid>& running,
                        Instant now) {
    struct Entry {
        const Job* job;
        bool running;
        Instant next;
    };
    std::vector<Entry> entries;
    for (const Job& job : jobs)
        if (!job.isPaused)
            entries.push_back({&job, running.count(job.id) > 0,
                               job.nextRun(now).value_or(Instant::distantFuture())});
    auto collator = nameCollator();
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.running != b.running)
            return a.running;
        if (a.next != b.next)
            return a.next < b.next;
        return before(collator.get(), a.job->name, b.job->name);
    });
    std::vector<Job> ordered;
    ordered.reserve(entries.size());
    for (const Entry& entry : entries)
        ordered.push_back(*entry.job);
    return ordered;
}

std::string_view activeTitle(bool running) {
    return running ? "Running" : "Next up";
}

bool nameComesBefore(std::string_view a, std::string_view b) {
    auto collator = nameCollator();
    return before(collator.get(), a, b);
}

} // namespace marrowbell::JobOrder
