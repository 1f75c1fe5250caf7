#pragma once

#include <set>
#include <string>
#include <vector>

namespace marrowbell {

// A tool's answer to "list your …": either the list (possibly empty) or no usable
// answer at all. Only an answer can tell which saved selections no longer exist.
template <class Item> class Discovery {
public:
    static Discovery answered(std::vector<Item> items) { return Discovery(true, std::move(items)); }
    static Discovery unavailable() { return Discovery(false, {}); }

    bool isAnswered() const { return answered_; }
    bool canJudgeSelections() const { return answered_; }
    // The list, or empty when unavailable.
    const std::vector<Item>& items() const { return items_; }

    // For an answer, the saved keys some listed item still has; otherwise `saved` unchanged.
    template <class KeyOf>
    std::set<std::string> surviving(const std::set<std::string>& saved, KeyOf keyOf) const {
        if (!answered_)
            return saved;
        std::set<std::string> listed;
        for (const Item& item : items_)
            listed.insert(keyOf(item));
        std::set<std::string> kept;
        for (const std::string& key : saved)
            if (listed.count(key))
                kept.insert(key);
        return kept;
    }

    friend bool operator==(const Discovery&, const Discovery&) = default;

private:
    Discovery(bool answered, std::vector<Item> items)
        : answered_(answered)
        , items_(std::move(items)) {}

    bool answered_;
    std::vector<Item> items_;
};

} // namespace marrowbell
