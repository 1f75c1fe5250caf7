#pragma once

#include "base/Instant.h"
#include "base/Uuid.h"
#include "job/Job.h"

#include <string_view>
#include <unordered_set>
#include <vector>

namespace marrowbell {

// The order in which active jobs are shown.
namespace JobOrder {

// The jobs that are not paused: running ones first, then by next run (none counts
// as the distant future), then by name as file browsers sort (case-insensitive,
// digits by numeric value, in the user's locale); ties keep their input order.
std::vector<Job> active(const std::vector<Job>& jobs, const std::unordered_set<Uuid>& running,
                        Instant now);
// The heading of the active list: "Running" or "Next up".
std::string_view activeTitle(bool running);
// True when name `a` sorts strictly before `b` ("Job 2" before "Job 10").
bool nameComesBefore(std::string_view a, std::string_view b);

} // namespace JobOrder
} // namespace marrowbell
