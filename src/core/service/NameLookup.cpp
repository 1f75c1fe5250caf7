#include "service/NameLookup.h"

#include "base/IcuLibrary.h"

namespace marrowbell {

namespace {

// Case folded (Unicode's full folding), for matching names without regard to case;
// only ASCII letters are folded when ICU cannot be loaded.
std::string folded(std::string_view text) {
    const IcuLibrary* icu = IcuLibrary::get();
    if (!icu) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    const std::u16string wide = icu->utf16(text);
    UErrorCode status = U_ZERO_ERROR;
    const std::u16string fold = IcuLibrary::written(
        [&](UChar* buffer, int32_t capacity, UErrorCode& error) {
            return icu->u_strFoldCase(buffer, capacity, wide.data(),
                                      static_cast<int32_t>(wide.size()), U_FOLD_CASE_DEFAULT,
                                      &error);
        },
        status);
    return icu->utf8(U_SUCCESS(status) ? fold : wide);
}

std::string inQuotes(std::string_view text) {
    return "\u201C" + std::string(text) + "\u201D";
}

template <typename Item>
const Item& find(const std::vector<Item>& items, std::string_view argument, const char* kind,
                 const char* kinds) {
    if (auto id = Uuid::parse(argument))
        for (const Item& item : items)
            if (item.id == *id)
                return item;

    std::vector<const Item*> exact, caseless;
    const std::string key = folded(argument);
    for (const Item& item : items) {
        if (item.name == argument)
            exact.push_back(&item);
        else if (folded(item.name) == key)
            caseless.push_back(&item);
    }
    const std::vector<const Item*>& matches = exact.empty() ? caseless : exact;
    if (matches.size() == 1)
        return *matches.front();
    if (matches.empty())
        throw NameLookup::Error(std::string("no ") + kind + " is named or identified by " +
                                inQuotes(argument));
    std::string message = std::to_string(matches.size()) + " " + kinds + " are named " +
                          inQuotes(argument) + "; name one by its identifier:";
    for (const Item* item : matches)
        message += "\n  " + item->id.text() + "  " + item->name;
    throw NameLookup::Error(message);
}

} // namespace

const Job& NameLookup::job(const std::vector<Job>& jobs, std::string_view argument) {
    return find(jobs, argument, "job", "jobs");
}

const Endpoint& NameLookup::endpoint(const std::vector<Endpoint>& endpoints,
                                     std::string_view argument) {
    return find(endpoints, argument, "endpoint", "endpoints");
}

} // namespace marrowbell
