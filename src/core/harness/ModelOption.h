#pragma once

#include <optional>
#include <string>

namespace marrowbell {

// A model a harness accepts: `id` goes after its model flag.
struct ModelOption {
    std::string id;
    std::optional<std::string> detail; // a fuller name, shown beside the id

    // `id`, or "{id} — {detail}" when the detail says something more.
    std::string label() const;

    friend bool operator==(const ModelOption&, const ModelOption&) = default;
};

} // namespace marrowbell
