#pragma once

#include "Options.h"

#include "endpoint/Endpoint.h"
#include "harness/HarnessRegistry.h"
#include "service/JobDraft.h"

#include <optional>
#include <string>
#include <vector>

namespace marrowbell::ctl {

// The option values shared by `add` and `edit`; each throws BadArgument.
PermissionLevel permissionOption(const std::string& text);
OfflinePolicy offlineOption(const std::string& text); // skip, fail or a raw value
Seconds timeoutOption(const std::string& text);       // the number only: the draft checks it
// From `file`, or standard input for none or "-"; the line end after the last line
// is dropped.
std::string promptFrom(const std::optional<std::string>& file);

// The folders a run would look for tools in, with the caller's PATH for the login
// shell's (which can take seconds to ask).
std::vector<std::string> searchPaths(const HarnessRegistry& registry);
// The stored endpoints; none without a file (reading creates no support folder).
std::vector<Endpoint> storedEndpoints();

// What a draft is checked against: the stored endpoints and jobs, and `searchPaths`.
JobDraft::Context draftContext(const HarnessRegistry& registry);

// Checks the draft; when nothing blocks and its prompt is still to come, reads the
// prompt (`promptFrom(promptFile)`) and checks again, so that standard input is never
// read for a draft that fails anyway. Throws BadArgument when the file cannot be read.
JobDraft::Checked checkedWithPrompt(JobDraft& draft, const JobDraft::Context& context,
                                    const std::optional<std::string>& promptFile);

// Prints the blocking problems, or else the warnings ("note: …"), one a line.
void printProblems(const std::vector<JobDraft::Problem>& problems, bool blocking);

} // namespace marrowbell::ctl
