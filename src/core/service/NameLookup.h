#pragma once

#include "endpoint/Endpoint.h"
#include "job/Job.h"

#include <stdexcept>
#include <string_view>
#include <vector>

namespace marrowbell {

// Finds the job or endpoint a person names by its identifier or its name, with one rule
// for every front end: the item with that identifier (any letter case); else the one
// item with exactly that name; else the one item whose name matches ignoring letter
// case (Unicode case folding). Several items at the first step that matches any is an
// ambiguity, never a guess.
class NameLookup {
public:
    // No item matches, or several do; the text is the message for the user, and names
    // the identifiers to choose from when several match.
    struct Error : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    static const Job& job(const std::vector<Job>& jobs, std::string_view argument);
    static const Endpoint& endpoint(const std::vector<Endpoint>& endpoints,
                                    std::string_view argument);
};

} // namespace marrowbell
