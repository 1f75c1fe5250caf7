#pragma once

#include <string>
#include <vector>

namespace marrowbell {

// The answer of one probe, compared by case and payload.
struct EndpointReachability {
    enum class Case {
        reachable,   // the server answered 200; `models` is what it listed, in order
        unreachable, // the server could not be used; see `reason`
        unauthorized // the server answered 401 or 403
    };

    Case state = Case::unreachable;
    std::vector<std::string> models;
    // A lower-case phrase completing "{name} could not be reached — {reason}".
    std::string reason;

    static EndpointReachability reachable(std::vector<std::string> models) {
        return {Case::reachable, std::move(models), {}};
    }
    static EndpointReachability unreachable(std::string reason) {
        return {Case::unreachable, {}, std::move(reason)};
    }
    static EndpointReachability unauthorized() { return {Case::unauthorized, {}, {}}; }

    friend bool operator==(const EndpointReachability&, const EndpointReachability&) = default;
};

} // namespace marrowbell
