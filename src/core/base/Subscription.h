#pragma once

#include <functional>
#include <utility>

namespace marrowbell {

// Ownership of one registration (an observer, a watched folder): destroying it, or
// `reset`, ends the registration. Move-only; an empty one owns nothing.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> end)
        : end_(std::move(end)) {}
    ~Subscription() { reset(); }

    Subscription(Subscription&& other) noexcept
        : end_(std::exchange(other.end_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            end_ = std::exchange(other.end_, nullptr);
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    void reset() {
        if (auto end = std::exchange(end_, nullptr))
            end();
    }
    explicit operator bool() const { return static_cast<bool>(end_); }

private:
    std::function<void()> end_;
};

} // namespace marrowbell
