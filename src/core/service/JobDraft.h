#pragma once

#include "base/Instant.h"
#include "endpoint/Endpoint.h"
#include "job/Job.h"

#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

class HarnessRegistry;

// A job as a person fills it in, each field as entered, checked in one place for every
// front end (the command line's `add`, the desktop editor). `check` reports every
// problem at once, each with the field it belongs to, and makes the job when none
// blocks it.
struct JobDraft {
    // The fields that can have problems, in the order they are reported.
    enum class Field {
        name,
        folder,
        schedule,
        timeZone,
        harness,
        endpoint,
        skills,
        timeLimit,
        prompt
    };

    struct Problem {
        Field field;
        std::string message; // for the user; starts in lower case
        // False for a warning: the job can be saved and works once the user acts
        // (a harness still to be installed, a name another job shares).
        bool blocking = true;
        friend bool operator==(const Problem&, const Problem&) = default;
    };

    // What a draft is checked against.
    struct Context {
        const HarnessRegistry& registry;
        std::vector<Endpoint> endpoints;
        std::vector<Job> jobs; // the stored ones, for names already taken
        // Where the harness's tool is looked for; none for the registry's own folders.
        std::optional<std::vector<std::string>> searchPaths;
    };

    struct Checked {
        std::vector<Problem> problems; // ordered by field, then as found
        // Set when no problem blocks and the prompt is given.
        std::optional<Job> job;
        bool blocked() const;
    };

    // The job being edited: the made job keeps its identifier, creation time, pause
    // state and time zone. None for a new job (a fresh identifier, created `now`,
    // not paused, in the system's zone).
    std::optional<Job> original;
    std::string name; // empty: "Untitled job"
    // Absolute, or relative to the working folder; a leading "~" is the home folder.
    // Stored absolute and lexically normal, symbolic links kept as named.
    std::string folder;
    std::string schedule; // five-field cron
    // A tz database name ("Europe/London"); none keeps the original's zone, or takes
    // the system's for a new job.
    std::optional<std::string> timeZone;
    std::string harnessID;
    // By identifier or name (NameLookup's rule); none for the harness's own provider.
    std::optional<std::string> endpoint;
    std::optional<std::string> model; // empty: the harness's default
    std::vector<std::string> skills;  // stored sorted, each once; none may be empty
    PermissionLevel permission = PermissionLevel::readOnly;
    std::optional<Seconds> timeLimit; // none: the settings' default
    OfflinePolicy offlinePolicy = OfflinePolicy::skipAndNotify;
    // None while still to be typed: the other fields are checked alone and no job is
    // made, so a front end can refuse a bad draft before asking for the prompt.
    std::optional<std::string> prompt;

    Checked check(const Context& context, Instant now) const;

    // A draft of `job` as it stands, to be changed and checked again: every field
    // filled in from the job (its endpoint by identifier), `original` set.
    static JobDraft editing(const Job& job);
};

} // namespace marrowbell
