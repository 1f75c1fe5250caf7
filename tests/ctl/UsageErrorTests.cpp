// Every refusal of a command line: status 2, the reason on standard error, nothing on
// standard output and nothing written. One row per place in src/ctl that refuses; the
// rules behind the core's refusals (JobDraft, NameLookup, SettingsChange,
// EndpointService) are tested in-process, here one row for each kind of them.
#include "ctl/SchedulerCommandSupport.h"

namespace marrowbell {
namespace {

struct Refused {
    const char* label;
    std::string arguments; // separated by '|'; {work} is the work folder
    const char* message;   // within standard error
};

const std::string add = "add|Morning brief|--folder|{work}|--harness|claude|--schedule|0 9 * * *|";

class CtlRefuses : public test::CtlTest, public testing::WithParamInterface<Refused> {};

TEST_P(CtlRefuses, WithStatusTwoAndChangesNothing) {
    saved(job("Changelog"));
    endpoint("Studio");
    auto snapshot = [&] {
        std::map<std::string, std::optional<std::string>> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(support()))
            files[entry.path().string()] = files::read(entry.path());
        return files;
    };
    const auto before = snapshot();
    std::string text = GetParam().arguments;
    if (auto at = text.find("{work}"); at != std::string::npos)
        text.replace(at, 6, work().string());
    auto result = ctl(test::split(text), "a prompt\n");
    EXPECT_EQ(result.exitStatus, 2) << result.out << result.err;
    EXPECT_THAT(result.err, HasSubstr(GetParam().message));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CtlRefuses,
    testing::Values(
        Refused{"unknownCommand", "frobnicate", "unknown command \u201Cfrobnicate\u201D"},
        Refused{"helpOfNoCommand", "help|frobnicate", "no command is called"},
        // The option reader every command shares, then add's own checks.
        Refused{"unknownOption", add + "--colour|red", "unknown option \u201C--colour\u201D"},
        Refused{"extraArgument", add + "Extra", "unexpected \u201CExtra\u201D"},
        Refused{"repeatedOption", add + "--harness=codex", "--harness is given more than once"},
        Refused{"missingValue", add + "--model", "--model needs a value"},
        Refused{"addWithoutFolder", "add|X|--harness|claude|--schedule|*", "add needs --folder"},
        Refused{"timeoutWithAUnit", add + "--timeout|15m", "--timeout takes a number of seconds"},
        Refused{"unknownPermission", add + "--permission|root", "--permission takes readOnly"},
        Refused{"unknownOfflinePolicy", add + "--offline|retry", "--offline takes skip or fail"},
        Refused{"missingPromptFile", add + "--prompt-file|/nonexistent/p.md",
                "cannot read the prompt"},
        Refused{"editContradiction", "edit|Changelog|--model|m|--no-model",
                "--model and --no-model"},
        Refused{"editWithoutChange", "edit|Changelog", "nothing to change"},
        Refused{"editRefusedByTheDraft", "edit|Changelog|--schedule|61 * * * *|--prompt-stdin",
                "The minute field does not accept \"61\"."},
        Refused{"unknownJob", "pause|Nothing", "no job is named"},
        Refused{"noJob", "delete", "delete needs exactly one JOB"},
        Refused{"daemonArgument", "daemon|now", "daemon takes no arguments"},
        Refused{"cronWithoutExpression", "cron", "missing the cron expression"},
        Refused{"cronSplitExpression", "cron|0|9|*|*|*", "give the expression as one argument"},
        Refused{"cronZoneWithoutValue", "cron|--zone", "--zone"},
        Refused{"cronUnknownZone", "cron|--zone|Mars/Base|*", "unknown time zone"},
        Refused{"afterWithoutOffset", "cron|--after|2026-03-07T12:00:00|*", "--after needs"},
        Refused{"afterNoSuchDay", "cron|--after|2026-02-30T12:00:00Z|*", "--after needs"},
        Refused{"afterNotSeconds", "cron|--after|@1e9|*", "--after needs"},
        Refused{"afterInWords", "cron|--after|yesterday|*", "--after needs"},
        Refused{"countNegative", "cron|--count|-1|*", "--count needs"},
        Refused{"countInWords", "cron|--count|many|*", "--count needs"},
        Refused{"countTooLarge", "cron|--count|99999999999999999999|*", "--count needs"},
        Refused{"cronRefusedExpression", "cron|--json|0 9 * *",
                "fields (minute hour day month weekday); found 4.\n"},
        Refused{"cronOptionsEnded", "cron|--count|1|--|--json", "found 1."},
        Refused{"runsTwoJobs", "runs|Changelog|Changelog", "runs takes at most one JOB"},
        Refused{"runsLimitZero", "runs|--limit|0", "--limit takes a whole number from 1"},
        Refused{"runsSinceInWords", "runs|--since|yesterday", "--since takes an ISO-8601 time"},
        Refused{"jobsPausedAndActive", "jobs|--paused|--active",
                "takes one of --paused and --active"},
        Refused{"jobsUsage", "jobs|--all",
                "jobs: unknown option \u201C--all\u201D\nusage:\n  marrowbellctl jobs ["},
        Refused{"parseWithoutFormat", "parse", "usage: marrowbellctl parse FORMAT"},
        Refused{"parseThreeArguments", "parse|piJSON|a|b", "usage: marrowbellctl parse FORMAT"},
        Refused{"parseUnknownFormat", "parse|yaml", "unknown format \"yaml\""},
        Refused{"harnessesArgument", "harnesses|extra", "harnesses takes no arguments but --json"},
        Refused{"settingsUnknownOption", "settings|--verbose", "unknown option"},
        Refused{"settingsUnknownKey", "settings|set|colour|red", "no setting is called"},
        Refused{"settingsRefusedValue", "settings|set|default-timeout|241",
                "whole minutes from 1 to 240"},
        Refused{"settingsSetWithoutValue", "settings|set|catch-up", "settings set needs KEY VALUE"},
        Refused{"endpointsAddBadAddress", "endpoints|add|X|127.0.0.1:1/v1|lmStudio",
                "Needs a full address"},
        Refused{"endpointsUnknownKind", "endpoints|add|X|http://h/v1|vllm",
                "use one of lmStudio, ollama,"},
        Refused{"endpointsAddArity", "endpoints|add|X|http://h/v1", "expected NAME URL KIND"},
        Refused{"endpointsDeleteUnknown", "endpoints|delete|Nope", "no endpoint is named"},
        Refused{"endpointsKeyAsArgument", "endpoints|set-key|Studio|sk-1", "expected ENDPOINT"},
        Refused{"endpointsUnknownAction", "endpoints|frobnicate", "unknown action"}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
} // namespace marrowbell
