#pragma once

#include <string>
#include <vector>

namespace marrowbell::ctl {

// Tells the user what a store met reading its file (a damaged file moved aside, a
// file skipped): one "marrowbellctl: warning: …" line each on standard error.
void warnAbout(const std::vector<std::string>& loadProblems);

} // namespace marrowbell::ctl
