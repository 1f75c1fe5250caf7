#include "LoadProblems.h"

#include "TerminalText.h"

#include <iostream>

namespace marrowbell::ctl {

void warnAbout(const std::vector<std::string>& loadProblems) {
    for (const std::string& problem : loadProblems)
        std::cerr << "marrowbellctl: warning: " << printable(problem) << "\n";
}

void warnAbout(const CoreServices& core) {
    for (const auto& problems : {core.jobs()->loadProblems(), core.history()->loadProblems(),
                                 core.endpoints()->loadProblems(), core.settings()->loadProblems()})
        warnAbout(problems);
}

} // namespace marrowbell::ctl
