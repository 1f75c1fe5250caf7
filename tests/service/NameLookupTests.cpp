#include "service/NameLookup.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>

namespace marrowbell {
namespace {

std::vector<Job> jobsNamed(const std::vector<std::string>& names) {
    std::vector<Job> jobs;
    for (const std::string& name : names)
        jobs.push_back(test::makeJob(name));
    return jobs;
}

// The message of a lookup that finds nothing or too much.
std::string refusal(const std::function<void()>& lookup) {
    try {
        lookup();
    } catch (const NameLookup::Error& error) {
        return error.what();
    }
    return "found one";
}

struct Row {
    std::string label;
    std::vector<std::string> names;
    std::string argument;
    int found;           // index of the job found, -1 for an error
    std::string message; // expected within the error's message
};

class NameLookupRule : public testing::TestWithParam<Row> {};

TEST_P(NameLookupRule, FindsOneJobOrSaysWhyNot) {
    const Row& row = GetParam();
    const std::vector<Job> jobs = jobsNamed(row.names);
    if (row.found >= 0)
        EXPECT_EQ(NameLookup::job(jobs, row.argument).id, jobs[row.found].id);
    else
        EXPECT_NE(refusal([&] { NameLookup::job(jobs, row.argument); }).find(row.message),
                  std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NameLookupRule,
    testing::Values(
        Row{"exactName", {"Report", "report"}, "report", 1, ""},
        Row{"caselessWhenNoExact", {"Weekly Report", "Other"}, "weekly report", 0, ""},
        Row{"caseFoldingBeyondAscii", {"STRASSE"}, "straße", 0, ""},
        Row{"none", {"Report"}, "Nothing", -1, "no job is named or identified by \u201CNothing"},
        Row{"twoExact", {"Twin", "Twin", "twin"}, "Twin", -1, "2 jobs are named \u201CTwin\u201D"},
        Row{"twoCaseless", {"Twin", "TWIN"}, "twin", -1, "2 jobs are named \u201Ctwin\u201D"}),
    [](const testing::TestParamInfo<Row>& info) { return info.param.label; });

// An identifier in any case wins over a name that looks like it; an ambiguity lists the
// identifiers to choose from.
TEST(NameLookup, IdentifiersWinAndAreOfferedWhenNamesAreAmbiguous) {
    std::vector<Job> jobs = jobsNamed({"First", "Second"});
    std::string id = jobs[1].id.text();
    for (char& c : id)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    jobs[0].name = id;
    EXPECT_EQ(NameLookup::job(jobs, id).id, jobs[1].id);

    const Endpoint a{Uuid::random(), "Twin", *Endpoint::validated("http://127.0.0.1:1/"),
                     EndpointKind::ollama};
    Endpoint b = a;
    b.id = Uuid::random();
    const std::string message = refusal([&] { NameLookup::endpoint({a, b}, "Twin"); });
    EXPECT_NE(message.find("2 endpoints are named"), std::string::npos) << message;
    EXPECT_NE(message.find(a.id.text()), std::string::npos) << message;
    EXPECT_NE(message.find(b.id.text()), std::string::npos) << message;
}

} // namespace
} // namespace marrowbell
