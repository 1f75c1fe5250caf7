#pragma once

#include "service/CoreServices.h"

#include <string>
#include <vector>

namespace marrowbell::ctl {

// Tells the user what a store met reading its file (a damaged file moved aside, a
// file skipped): one "marrowbellctl: warning: …" line each on standard error.
void warnAbout(const std::vector<std::string>& loadProblems);
// The same for every store of the process.
void warnAbout(const CoreServices& core);

} // namespace marrowbell::ctl
