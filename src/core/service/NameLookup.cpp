#include "service/NameLookup.h"

#include <unicode/unistr.h>

namespace marrowbell {

namespace {

std::string folded(std::string_view text) {
    std::string out;
    return icu::UnicodeString::fromUTF8(
               icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .foldCase()
        .toUTF8String(out);
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
