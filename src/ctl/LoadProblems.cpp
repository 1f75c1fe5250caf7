#include "LoadProblems.h"

#include "TerminalText.h"

#include <iostream>

namespace marrowbell::ctl {

void warnAbout(const std::vector<std::string>& loadProblems) {
    for (const std::string& problem : loadProblems)
        std::cerr << "marrowbellctl: warning: " << printable(problem) << "\n";
}

} // namespace marrowbell::ctl
