#include "run/JobRunner.h"

#include "base/Files.h"
#include "base/HomeFolder.h"
#include "base/Utf8.h"
#include "endpoint/EndpointKind.h"
#include "endpoint/EndpointStatus.h"
#include "harness/SkillCatalog.h"
#include "run/LineRelay.h"
#include "run/Redactor.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"
#include "run/RunExecutorError.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <forward_list>
#include <limits>
#include <mutex>
#include <span>

namespace marrowbell {

JobRunner::JobRunner(HarnessRegistry registry, std::shared_ptr<RunHistory> history,
                     EndpointProbe probe, RunExecutor executor, CommandBuilder builder,
                     SecretStore secrets, std::shared_ptr<LiveRuns> live)
    : registry_(std::move(registry))
    , history_(std::move(history))
    , probe_(probe)
    , executor_(executor)
    , builder_(builder)
    , secrets_(std::move(secrets))
    , live_(std::move(live)) {}

std::optional<std::string> JobRunner::apiKey(const std::optional<Endpoint>& endpoint) const {
    if (!endpoint || !mayNeedAPIKey(endpoint->kind))
        return std::nullopt;
    return secrets_.secret(endpoint->id);
}

std::filesystem::path JobRunner::privateFolderPattern() {
    return std::filesystem::path(cacheFolder()) / "runs" / "{run}";
}

BuiltCommand JobRunner::preview(const Job& job, const std::optional<Endpoint>& endpoint) const {
    // As `run` builds it, the repository's git folder writable beside the worktree.
    if (job.permission == PermissionLevel::scopedWrite)
        if (auto gitFolder = RunWorktree::sharedGitFolder(job.workingDirectory.fsPath()))
            return command(job, endpoint, privateFolderPattern(), RunWorktree::pattern(job.name),
                           {*gitFolder});
    return command(job, endpoint, privateFolderPattern());
}

BuiltCommand JobRunner::command(const Job& job, const std::optional<Endpoint>& endpoint,
                                const std::filesystem::path& privateFolder,
                                const std::optional<std::filesystem::path>& worktree,
                                const std::vector<std::filesystem::path>& writableFolders) const {
    const HarnessSpec& spec = registry_.spec(job.harnessID);
    std::filesystem::path executable = registry_.resolveExecutable(spec);
    std::vector<std::string> available;
    if (spec.skills && spec.skills->style == SkillStyle::toggle)
        for (const Skill& skill : SkillCatalog::skills(spec.skills->source, executable))
            available.push_back(skill.id);
    RunRequest request{
        .prompt = job.prompt,
        .workingDirectory = worktree.value_or(job.workingDirectory.fsPath()),
        .model = job.model,
        .endpoint = endpoint,
        .skills = job.skills,
        .availableSkills = std::move(available),
        .permission = job.permission,
        .apiKey = apiKey(endpoint),
        .privateFolder = privateFolder,
        .writableFolders = writableFolders,
    };
    return builder_.build(spec, executable, request);
}

std::optional<std::int64_t> JobRunner::wholeSeconds(Seconds limit) {
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double bound = 9223372036854775808.0;
    if (!std::isfinite(limit) || limit >= bound || limit < -bound)
        return std::nullopt;
    return static_cast<std::int64_t>(std::trunc(limit));
}

RunRecord JobRunner::refused(const Job& job, Instant now, std::string message, bool skip,
                             const Uuid& id) const {
    RunRecord record;
    record.id = id;
    record.jobID = job.id;
    record.startedAt = now;
    record.duration = 0;
    record.exitCode = skip ? 0 : 1;
    record.failureMessage = std::move(message);
    history_->record(record);
    return record;
}

static const HarnessSpec* lookUp(const HarnessRegistry& registry, const std::string& id) {
    try {
        return &registry.spec(id);
    } catch (const HarnessError&) {
        return nullptr;
    }
}

// The last line of `text` with something in it, if any.
static std::optional<std::string> lastNonEmptyLine(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t start = text.rfind('\n', end - 1);
        std::size_t from = start == std::string::npos ? 0 : start + 1;
        if (end > from)
            return text.substr(from, end - from);
        if (start == std::string::npos)
            break;
        end = start;
    }
    return std::nullopt;
}

namespace {

// A fresh folder of this run's own, 0700, removed with everything in it when the run
// ends; empty when none could be made (the files it would hold then fail the run).
class PrivateFolder {
public:
    PrivateFolder() {
        std::filesystem::path runs = JobRunner::privateFolderPattern().parent_path();
        std::error_code error;
        std::filesystem::create_directories(runs, error);
        std::string pattern = (runs / "XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~PrivateFolder() {
        std::error_code error;
        if (!path_.empty())
            std::filesystem::remove_all(path_, error);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes each file (0600); the reason of the first failure, if any.
    std::optional<std::string> write(const std::map<std::string, std::string>& files) const {
        if (path_.empty())
            return "could not create a folder in " +
                   JobRunner::privateFolderPattern().parent_path().string();
        for (const auto& [name, contents] : files)
            try {
                files::writeAtomically(path_ / name, contents, 0600);
            } catch (const std::exception& error) {
                return error.what();
            }
        return std::nullopt;
    }

private:
    std::filesystem::path path_;
};

} // namespace

RunRecord JobRunner::run(const Job& job, const std::optional<Endpoint>& endpoint,
                         const RunLimits& defaults, Instant now, LineHandler onOutputLine,
                         std::stop_token stopToken, ProcessHandler onStarted) const {
    PrivateFolder privateFolder;
    BuiltCommand command;
    try {
        command = this->command(job, endpoint, privateFolder.path());
    } catch (const HarnessError& error) {
        return refused(job, now, error.what());
    }

    if (const HarnessSpec* spec = lookUp(registry_, job.harnessID)) {
        EndpointCompatibility compatibility =
            CommandBuilder::compatibility(*spec, endpoint, std::nullopt);
        if (const auto* wrong =
                std::get_if<EndpointCompatibility::WrongProtocol>(&compatibility.value)) {
            std::string endpointName = endpoint ? endpoint->name : "this endpoint";
            return refused(job, now,
                           spec->displayName + " speaks " +
                               std::string(displayName(wrong->harness)) + " and " + endpointName +
                               " answers in " + std::string(displayName(wrong->endpoint)) +
                               ". Choose an endpoint the harness can read.");
        }
    }

    if (const HarnessSpec* spec = lookUp(registry_, job.harnessID))
        if (auto reason = CommandBuilder::compatibility(*spec, endpoint, std::nullopt)
                              .reason(spec->displayName, endpoint ? endpoint->name : ""))
            return refused(job, now, *reason + " Choose an endpoint the harness can read.");

    if (!command.privateFiles.empty())
        if (auto problem = privateFolder.write(command.privateFiles))
            return refused(job, now, "Could not prepare the run's own files — " + *problem);

    if (endpoint) {
        EndpointReachability reachability = probe_.probe(*endpoint, apiKey(endpoint));
        EndpointStatus status{endpoint->id, endpoint->name, reachability, Instant::now()};
        if (reachability.state != EndpointReachability::Case::reachable) {
            if (job.offlinePolicy == OfflinePolicy::skipAndNotify)
                return refused(job, now, "Skipped — " + status.summary(), /*skip=*/true);
            return refused(job, now, status.summary());
        }
    }

    // From here on the run is live: it has a transcript named after the record's
    // identifier, and a record that leaves the registry whatever happens.
    const Uuid runID = Uuid::random();
    std::shared_ptr<LiveRuns::Run> live =
        live_ ? live_->begin(job, runID, Instant::now()) : nullptr;
    struct Abandon {
        LiveRuns::Run* run;
        ~Abandon() {
            if (run)
                run->abandon();
        }
    } abandon{live.get()};
    auto finished = [&](RunRecord record) {
        if (live)
            live->finish(record, *history_);
        return record;
    };
    auto warn = [&](const std::string& warning) {
        if (onOutputLine)
            onOutputLine("warning: " + warning);
        if (live)
            live->line(OutputChannel::warning, warning);
    };
    for (const std::string& warning : command.warnings)
        warn(warning);
    if (live && live->transcriptProblem())
        warn(*live->transcriptProblem());

    const HarnessSpec* spec = lookUp(registry_, job.harnessID);
    if (!spec)
        return finished(
            refused(job, now, HarnessError::unknownHarness(job.harnessID).what(), false, runID));
    RunEventStream stream(RunEventParsers::parser(spec->eventFormat));

    std::optional<std::int64_t> limit =
        wholeSeconds(job.limitOverrides.timeoutSeconds.value_or(defaults.timeoutSeconds));
    if (!limit)
        return finished(refused(job, now, unusableLimitMessage, false, runID));

    // Opened last, once nothing else can refuse the run, and finished whatever happens.
    std::unique_ptr<RunWorktree> worktree;
    if (job.permission == PermissionLevel::scopedWrite) {
        static std::once_flag recovered;
        std::call_once(recovered, &RunWorktree::recoverAbandoned);
        RunWorktree::Opening opening =
            RunWorktree::open(job.workingDirectory.fsPath(), job.name, now);
        if (opening.failure)
            return finished(refused(job, now, *opening.failure, false, runID));
        if (opening.warning)
            warn(*opening.warning);
        if ((worktree = std::move(opening.worktree))) {
            try {
                command = this->command(job, endpoint, privateFolder.path(),
                                        worktree->workingDirectory(), {worktree->gitFolder()});
            } catch (const HarnessError& error) {
                worktree->finish("");
                return finished(refused(job, now, error.what(), false, runID));
            }
        }
    }
    // A folder the sandbox lets the harness write must exist before it starts: inside
    // the sandbox nothing above it may be written, so a harness never run before could
    // not create its state folders itself.
    if (spec->sandbox && command.executable == SandboxProfile::executable()) {
        std::vector<std::string> always =
            SandboxProfile{command.workingDirectory, {}, false}.writableSubpaths();
        for (const std::string& folder :
             SandboxProfile{command.workingDirectory, spec->sandbox->writablePaths, false}
                 .writableSubpaths())
            if (std::find(always.begin(), always.end(), folder) == always.end()) {
                std::error_code error;
                std::filesystem::create_directories(folder, error);
            }
    }

    const std::string runDescription = "Marrowbell: " + job.name + ", run " + runID.text();

    const Redactor redact(apiKey(endpoint));
    RunOutcome outcome;
    // The stream is parsed beside the reading, which the transcript and followers wait on.
    LineRelay parsing([&stream](std::span<const std::string_view> lines) { stream.ingest(lines); });
    try {
        // The lines of each read go on together: one lock and one transcript append
        // per read, and no copy of a line that holds no secret.
        std::vector<std::string_view> shown;
        std::forward_list<std::string> redacted; // stable addresses for `shown`
        auto redactAll = [&](std::span<const std::string_view> lines) {
            shown.assign(lines.begin(), lines.end());
            redacted.clear();
            std::string storage;
            for (std::string_view& line : shown)
                if (std::string_view safe = redact.apply(line, storage); safe.data() != line.data())
                    line = redacted.emplace_front(std::move(storage));
            return std::span<const std::string_view>(shown);
        };
        outcome = executor_.runInBatches(
            command, static_cast<Seconds>(*limit),
            [&](std::span<const std::string_view> lines) {
                std::span<const std::string_view> safe = redactAll(lines);
                parsing.push(safe);
                if (onOutputLine)
                    for (std::string_view line : safe)
                        onOutputLine(line);
                if (live)
                    live->lines(OutputChannel::standardOutput, safe);
            },
            std::move(stopToken),
            [&](std::span<const std::string_view> lines) {
                if (live)
                    live->lines(OutputChannel::standardError, redactAll(lines));
            },
            [&](const RunProcess& process) {
                if (live)
                    live->setProcessID(process.group);
                if (onStarted)
                    onStarted(process);
            });
    } catch (const RunExecutorError& error) {
        if (worktree)
            worktree->finish(runDescription);
        return finished(refused(job, now, error.what(), false, runID));
    }

    parsing.finish();
    RunSummary summary = stream.summary();
    RunRecord record;
    record.id = runID;
    record.jobID = job.id;
    record.startedAt = now;
    record.duration = outcome.duration;
    record.exitCode = outcome.exitCode;
    record.timedOut = outcome.timedOut;
    record.wasCancelled = outcome.cancelled;
    record.inputTokens = summary.inputTokens;
    record.outputTokens = summary.outputTokens;
    record.resultText = summary.resultText;
    record.warning = summary.warning;
    if (summary.failureMessage)
        record.failureMessage = summary.failureMessage;
    else if (outcome.cancelled || outcome.timedOut)
        record.failureMessage = outcome.terminationSummary();
    else if (outcome.exitCode != 0) {
        std::string message = outcome.terminationSummary();
        if (auto line = lastNonEmptyLine(outcome.standardError))
            message += " — " + utf8::capped(redact(*line), errorLineLimit);
        record.failureMessage = message;
    }
    if (worktree) {
        std::string sentence = worktree->finish(runDescription);
        // Added to whichever text the summary shows: after the model's own text as a
        // paragraph, after a one-line message as one more sentence.
        if (record.failureMessage || record.warning) {
            std::string& said = record.failureMessage ? *record.failureMessage : *record.warning;
            said += (said.ends_with('.') ? " " : ". ") + sentence;
        } else {
            std::string said = record.resultText.value_or("");
            record.resultText = said.empty() ? sentence : said + "\n\n" + sentence;
        }
    }
    record.resultText = redact.optional(record.resultText);
    record.failureMessage = redact.optional(record.failureMessage);
    record.warning = redact.optional(record.warning);
    record = record.bounded();
    history_->record(record);
    return finished(record);
}

} // namespace marrowbell
