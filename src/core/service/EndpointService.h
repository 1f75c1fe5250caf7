#pragma once

#include "endpoint/Endpoint.h"
#include "endpoint/SecretStore.h"
#include "job/Job.h"
#include "settings/EndpointStore.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// The changes a person makes to endpoints, each keeping the record in the endpoint
// store and its API key in the credential store together, for every front end.
class EndpointService {
public:
    // A change refused before anything was written; the text is the message.
    struct Refusal : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    EndpointService(std::shared_ptr<EndpointStore> endpoints, const SecretStore& secrets);

    // A new endpoint with a fresh identifier, appended to the store. The name and the
    // address are trimmed of white space. Throws Refusal for an empty name, a name
    // another endpoint has, or an address `Endpoint::validated` rejects.
    Endpoint add(std::string_view name, std::string_view address, EndpointKind kind) const;

    // What a person changes of an endpoint; none leaves that field as it is.
    struct Edit {
        std::optional<std::string> name = {};
        std::optional<std::string> address = {}; // as typed; see Endpoint::acceptedAddress
        std::optional<EndpointKind> kind = {};
    };

    // Saves the endpoint with the edit applied, by the rules of `add` (the name is
    // trimmed and must be neither empty nor another endpoint's; the address must be
    // accepted), and answers it. Its identifier, and so its key and the jobs using it,
    // stay. Throws Refusal before anything is written.
    Endpoint edit(const Endpoint& endpoint, const Edit& edit) const;

    // Deletes the endpoint's key, then its record, and answers the jobs of `jobs`
    // that used it (they now run with their harness's own provider). When the key
    // cannot be deleted, SecretStore::Failure is thrown and the record is kept: an
    // endpoint gone with its key left behind would leave a secret nothing reaches.
    std::vector<Job> remove(const Endpoint& endpoint, const std::vector<Job>& jobs) const;

    // Stores the key, replacing any earlier one; an empty key removes it. Throws
    // SecretStore::Failure.
    void setKey(const Endpoint& endpoint, std::string_view key) const;
    // Throws SecretStore::Failure; a key that does not exist is no failure.
    void removeKey(const Endpoint& endpoint) const;

private:
    // The trimmed name, unless it is empty or another endpoint than `self` has it.
    std::string checkedName(std::string_view name, const std::optional<Uuid>& self) const;

    std::shared_ptr<EndpointStore> endpoints_;
    const SecretStore& secrets_;
};

} // namespace marrowbell
