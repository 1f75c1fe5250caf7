#include "service/NameLookup.h"
#include "support/JobFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>

namespace marrowbell {
namespace {

std::vector<Job> jobsNamed(const std::vector<std::string>& names) {
    std::vector<Job> jobs;
    for (const std::string& name : names)
        jobs.push_back(test::makeJob(name));
    return jobs;
}

using testing::HasSubstr;
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
        EXPECT_THAT([&] { NameLookup::job(jobs, row.argument); },
                    testing::ThrowsMessage<NameLookup::Error>(HasSubstr(row.message)));
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
    EXPECT_THAT(
        [&] {
            NameLookup::endpoint({a, b}, "Twin");
        },
        testing::ThrowsMessage<NameLookup::Error>(testing::AllOf(
            HasSubstr("2 endpoints are named"), HasSubstr(a.id.text()), HasSubstr(b.id.text()))));
}

} // namespace
} // namespace marrowbell
