#include "run/JobRunner.h"

#include "endpoint/EndpointKind.h"
#include "endpoint/EndpointStatus.h"
#include "harness/SkillCatalog.h"
#include "run/Redactor.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"
#include "run/RunExecutorError.h"
#include "base/Utf8.h"

#include <cmath>
#include <limits>

namespace marrowbell {

JobRunner::JobRunner(HarnessRegistry registry, std::shared_ptr<RunHistory> history,
                     EndpointProbe probe, RunExecutor executor, CommandBuilder builder,
                     SecretStore secrets)
    : registry_(std::move(registry))
    , history_(std::move(history))
    , probe_(probe)
    , executor_(executor)
    , builder_(builder)
    , secrets_(std::move(secrets)) {}

std::optional<std::string> JobRunner::apiKey(const std::optional<Endpoint>& endpoint) const {
    if (!endpoint || !mayNeedAPIKey(endpoint->kind))
        return std::nullopt;
    return secrets_.secret(endpoint->id);
}

BuiltCommand JobRunner::preview(const Job& job, const std::optional<Endpoint>& endpoint) const {
    const HarnessSpec& spec = registry_.spec(job.harnessID);
    std::filesystem::path executable = registry_.resolveExecutable(spec);
    std::vector<std::string> available;
    if (spec.skills && spec.skills->style == SkillStyle::toggle)
        for (const Skill& skill : SkillCatalog::skills(spec.skills->source, executable))
            available.push_back(skill.id);
    RunRequest request{
        .prompt = job.prompt,
        .workingDirectory = job.workingDirectory.fsPath(),
        .model = job.model,
        .endpoint = endpoint,
        .skills = job.skills,
        .availableSkills = std::move(available),
        .permission = job.permission,
        .apiKey = apiKey(endpoint),
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

RunRecord JobRunner::refused(const Job& job, Instant now, std::string message, bool skip) const {
    RunRecord record;
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

RunRecord JobRunner::run(const Job& job, const std::optional<Endpoint>& endpoint,
                         const RunLimits& defaults, Instant now, LineHandler onOutputLine,
                         std::stop_token stopToken, ProcessHandler onStarted) const {
    BuiltCommand command;
    try {
        command = preview(job, endpoint);
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

    if (endpoint) {
        EndpointReachability reachability = probe_.probe(*endpoint, apiKey(endpoint));
        EndpointStatus status{endpoint->id, endpoint->name, reachability, Instant::now()};
        if (reachability.state != EndpointReachability::Case::reachable) {
            if (job.offlinePolicy == OfflinePolicy::skipAndNotify)
                return refused(job, now, "Skipped — " + status.summary(), /*skip=*/true);
            return refused(job, now, status.summary());
        }
    }

    if (onOutputLine)
        for (const std::string& warning : command.warnings)
            onOutputLine("warning: " + warning);

    const HarnessSpec* spec = lookUp(registry_, job.harnessID);
    if (!spec)
        return refused(job, now, HarnessError::unknownHarness(job.harnessID).what());
    RunEventStream stream(RunEventParsers::parser(spec->eventFormat));

    std::optional<std::int64_t> limit =
        wholeSeconds(job.limitOverrides.timeoutSeconds.value_or(defaults.timeoutSeconds));
    if (!limit)
        return refused(job, now, unusableLimitMessage);

    const Redactor redact(apiKey(endpoint));
    RunOutcome outcome;
    try {
        outcome = executor_.run(
            command, static_cast<Seconds>(*limit),
            [&](std::string_view line) {
                std::string shown = redact(line);
                stream.ingest(shown);
                if (onOutputLine)
                    onOutputLine(shown);
            },
            std::move(stopToken), std::move(onStarted));
    } catch (const RunExecutorError& error) {
        return refused(job, now, error.what());
    }

    RunSummary summary = stream.summary();
    RunRecord record;
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
    record.resultText = redact.optional(record.resultText);
    record.failureMessage = redact.optional(record.failureMessage);
    record.warning = redact.optional(record.warning);
    record = record.bounded();
    history_->record(record);
    return record;
}

} // namespace marrowbell
