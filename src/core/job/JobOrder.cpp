#include "job/JobOrder.h"

#include <algorithm>
#include <memory>
#include <numeric>
#include <unicode/coll.h>
#include <unicode/locid.h>

namespace marrowbell::JobOrder {

namespace {

// The user's locale (ICU reads LC_ALL / LC_COLLATE / LANG), secondary strength so
// case does not count but accents do, and digit runs compared as numbers. The C
// locale maps to en_US_POSIX, whose byte order would put "Zebra" before "apple", so
// it gets the root order instead.
std::unique_ptr<icu::Collator> nameCollator() {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getVariant()) == "POSIX")
        locale = icu::Locale::getRoot();
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status))
            return nullptr;
    }
    collator->setStrength(icu::Collator::SECONDARY);
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    return collator;
}

bool before(const icu::Collator* collator, std::string_view a, std::string_view b) {
    if (!collator)
        return a < b;
    UErrorCode status = U_ZERO_ERROR;
    auto order =
        collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                              icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
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
