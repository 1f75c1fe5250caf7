#pragma once

#include "base/Instant.h"
#include "endpoint/Endpoint.h"
#include "endpoint/EndpointReachability.h"
#include "endpoint/EndpointStatus.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// Asks an endpoint for its model list (GET {baseURL}/models) and classifies the
// answer. Every request is independent: no cookies, cache, stored credentials or
// redirects are followed (a key must not travel to another host). Holds no state
// besides its time-out; any number of probes may run at once from any thread.
class EndpointProbe {
public:
    // What a transfer that got no HTTP answer failed with: a libcurl code
    // (CURLcode), the system error behind it when there is one, and libcurl's
    // own description.
    struct TransferError {
        int code = 0;
        int systemError = 0;
        std::string description;
    };

    // `timeout` bounds the whole request, connection included. The application
    // uses 5 seconds everywhere.
    explicit EndpointProbe(Seconds timeout = 5);

    Seconds timeout() const { return timeout_; }

    // The endpoint's reachability. A key, when given (even empty), is sent both as
    // "Authorization: Bearer {key}" and as "x-api-key: {key}". Never throws.
    EndpointReachability probe(const Endpoint& endpoint,
                               const std::optional<std::string>& apiKey) const noexcept;
    // `probe`, wrapped with the endpoint's identity and the time the answer arrived.
    EndpointStatus check(const Endpoint& endpoint,
                         const std::optional<std::string>& apiKey) const noexcept;

    // The "id" of each element of the reply's "data" array, in order; empty when
    // the bytes are not such a model list.
    static std::vector<std::string> modelIdentifiers(std::string_view body);
    // The reason phrase for a transfer error ("nothing is listening on that port").
    static std::string explain(const TransferError& error);
    // The model-list address: the base URL's path with "models" appended, without
    // doubling a trailing slash; none when the base URL does not parse.
    static std::optional<std::string> modelsURL(const Url& baseURL);

private:
    Seconds timeout_;
};

} // namespace marrowbell
