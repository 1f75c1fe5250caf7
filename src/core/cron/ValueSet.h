#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>

namespace marrowbell {

// A set of small integers (0–63), iterated in ascending order: the values a cron
// field admits. A single word, so expressions and the jobs holding them copy cheaply.
class ValueSet {
public:
    ValueSet() = default;
    ValueSet(std::initializer_list<int> values) {
        for (int v : values)
            insert(v);
    }

    void insert(int value) { bits_ |= std::uint64_t{1} << value; }
    bool contains(int value) const { return value >= 0 && value < 64 && (bits_ >> value & 1) != 0; }
    std::size_t size() const { return static_cast<std::size_t>(std::popcount(bits_)); }
    bool empty() const { return bits_ == 0; }
    std::uint64_t bits() const { return bits_; }

    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = int;
        using difference_type = std::ptrdiff_t;
        using pointer = const int*;
        using reference = int;

        iterator() = default;
        explicit iterator(std::uint64_t rest)
            : rest_(rest) {}
        int operator*() const { return std::countr_zero(rest_); }
        iterator& operator++() {
            rest_ &= rest_ - 1;
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(iterator, iterator) = default;

    private:
        std::uint64_t rest_ = 0;
    };
    iterator begin() const { return iterator(bits_); }
    iterator end() const { return iterator(0); }

    friend bool operator==(ValueSet, ValueSet) = default;

private:
    std::uint64_t bits_ = 0;
};

} // namespace marrowbell
