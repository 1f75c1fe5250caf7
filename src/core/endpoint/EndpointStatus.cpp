#include "endpoint/EndpointStatus.h"

namespace marrowbell {

bool EndpointStatus::isReachable() const {
    return reachability.state == EndpointReachability::Case::reachable;
}

std::vector<std::string> EndpointStatus::models() const {
    return isReachable() ? reachability.models : std::vector<std::string>{};
}

std::string EndpointStatus::summary() const {
    switch (reachability.state) {
    case EndpointReachability::Case::reachable: {
        std::size_t count = reachability.models.size();
        if (count == 0)
            return "Reachable";
        return "Reachable \u00B7 " + std::to_string(count) + " model" + (count == 1 ? "" : "s");
    }
    case EndpointReachability::Case::unreachable:
        return endpointName + " could not be reached \u2014 " + reachability.reason;
    case EndpointReachability::Case::unauthorized:
        return "Reachable, but the key was refused";
    }
    return {};
}

} // namespace marrowbell
