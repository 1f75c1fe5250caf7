#pragma once

#include <optional>
#include <string>
#include <vector>

// Fixed-English pieces of schedule descriptions, all from the "en_US_POSIX" locale (the
// same English, written out here, when ICU cannot be loaded).
namespace marrowbell::words {

// "9:00 AM", "12:30 PM", "12:00 AM" for midnight; "25:7" style when not a time.
std::string timeOfDay(int hour, int minute);
// Sunday first.
const std::vector<std::string>& fullWeekdayNames();
const std::vector<std::string>& shortWeekdayNames();
// The name at `index`, or none when out of range.
std::optional<std::string> name(int index, const std::vector<std::string>& names);
// "1st", "22nd", "13th".
std::string ordinal(int number);

} // namespace marrowbell::words
