// marrowbellctl cron: parses one expression and shows what the scheduler would do
// with it: its normal text, its descriptions and the next fire times in a zone.
#include "Command.h"
#include "IsoTime.h"
#include "TerminalText.h"

#include "base/Json.h"
#include "cron/CronExpression.h"

#include <iostream>

namespace marrowbell::ctl {
namespace {

constexpr std::int64_t defaultCount = 5;
constexpr std::int64_t maximumCount = 100000;

struct Options {
    std::optional<std::string> zone;
    std::optional<std::string> after;
    std::optional<std::string> count;
    bool json = false;
    std::optional<std::string> expression;
};

// Accepts "--name VALUE" and "--name=VALUE".
bool takeValue(Arguments arguments, std::size_t& i, std::string_view name,
               std::optional<std::string>& into, std::string& problem) {
    const std::string& argument = arguments[i];
    if (argument == name) {
        if (i + 1 >= arguments.size()) {
            problem = std::string(name) + " needs a value";
            return true;
        }
        into = arguments[++i];
        return true;
    }
    if (argument.size() > name.size() && argument.compare(0, name.size(), name) == 0 &&
        argument[name.size()] == '=') {
        into = argument.substr(name.size() + 1);
        return true;
    }
    return false;
}

int run(Arguments arguments) {
    Options options;
    std::string problem;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size() && problem.empty(); ++i) {
        const std::string& argument = arguments[i];
        const bool looksLikeOption =
            !optionsEnded && argument.size() > 2 && argument[0] == '-' && argument[1] == '-';
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (looksLikeOption && argument == "--json") {
            options.json = true;
        } else if (looksLikeOption &&
                   (takeValue(arguments, i, "--zone", options.zone, problem) ||
                    takeValue(arguments, i, "--after", options.after, problem) ||
                    takeValue(arguments, i, "--count", options.count, problem))) {
        } else if (looksLikeOption) {
            return unknownOption(argument);
        } else if (options.expression) {
            problem = "give the expression as one argument, in quotes: \"*/15 9-17 * * 1-5\"";
        } else {
            options.expression = argument;
        }
    }
    if (problem.empty() && !options.expression)
        problem = "missing the cron expression";
    if (!problem.empty())
        return usage(problem);

    TimeZone zone = TimeZone::system();
    if (options.zone) {
        auto named = TimeZone::named(*options.zone);
        if (!named)
            return usage("unknown time zone \"" + *options.zone + "\"");
        zone = *named;
    }
    Instant after = Instant::now();
    if (options.after) {
        auto parsed = parseInstant(*options.after);
        if (!parsed)
            return usage("--after needs an ISO-8601 time with an offset "
                         "(2026-03-07T09:00:00Z) or @ and Unix seconds");
        after = *parsed;
    }
    std::int64_t count = defaultCount;
    if (options.count) {
        auto parsed = readCronInteger(*options.count);
        if (!parsed || *parsed < 0 || *parsed > maximumCount || (*options.count)[0] == '+')
            return usage("--count needs a whole number from 0 to " + std::to_string(maximumCount));
        count = *parsed;
    }

    std::optional<CronExpression> expression;
    try {
        expression.emplace(*options.expression);
    } catch (const CronError& error) {
        std::cerr << error.what() << "\n";
        return usageError;
    }
    std::vector<std::string> next;
    for (Instant instant : expression->nextDates(count, after, zone))
        next.push_back(isoLocal(instant, zone));

    if (options.json) {
        Json out = {{"text", expression->text()},
                    {"plainEnglish", expression->plainEnglish()},
                    {"compactEnglish", expression->compactEnglish()},
                    {"next", next}};
        jsonOutput() << json::pretty(out);
    } else {
        std::cout << expression->text() << "\n"
                  << expression->plainEnglish() << "\n"
                  << expression->compactEnglish() << "\n";
        for (const std::string& line : next)
            std::cout << line << "\n";
    }
    return std::cout.flush() ? success : failure;
}

const Command command{
    "cron",
    Help{Group::jobs, "check a cron expression and show when it fires",
         "cron [--zone ZONE] [--after INSTANT] [--count N] [--json] EXPRESSION",
         "  --zone ZONE           the time zone (default: the system's)\n"
         "  --after INSTANT       from this time: ISO-8601 with Z or an offset, or @UNIX-SECONDS\n"
         "  --count N             how many fire times (default 5)\n"
         "  --json                as JSON",
         "marrowbellctl cron --zone Europe/London '*/15 9-17 * * 1-5'"},
    &run};

} // namespace
} // namespace marrowbell::ctl
