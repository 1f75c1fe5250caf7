#include "ctl/JobCommandFixture.h"
#include "settings/EndpointStore.h"

#include <gtest/gtest.h>

using namespace marrowbell;

namespace {

// A name that would clear the screen, open a control sequence through C1 and print
// the rest of the line mirrored, were it obeyed.
const std::string hostile = "Evil\x1b[2J\xc2\x9b"
                            "1m\u202Eexe.gnp\n";

struct Listing {
    const char* name;
    std::vector<std::string> arguments;
};

class CtlTerminalSafety : public test::JobCommandFixture,
                          public testing::WithParamInterface<Listing> {};

class CtlJson : public test::JobCommandFixture {};

} // namespace

TEST_P(CtlTerminalSafety, NamesArePrintedVisiblyNeverObeyed) {
    Job job = projectJob(hostile, "*/5 * * * *");
    job.isPaused = GetParam().arguments[0] == "resume";
    saved(job);
    EndpointStore(supportFolder() / "endpoints.json")
        .save({Uuid::random(), hostile, *Endpoint::validated("http://127.0.0.1:9/v1"),
               EndpointKind::lmStudio});
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& argument : arguments)
        if (argument == "{job}")
            argument = job.id.text();
    auto result = ctl(arguments);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const std::string printed = result.out + result.err;
    for (std::string_view obeyed : {"\x1b", "\xc2\x9b", "\u202E", "Evil\x1b"})
        EXPECT_EQ(printed.find(obeyed), std::string::npos) << printed;
    EXPECT_NE(printed.find("Evil\\u001B[2J\\u009B1m\\u202Eexe.gnp\\u000A"), std::string::npos)
        << printed;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CtlTerminalSafety,
    testing::Values(Listing{"jobs", {"jobs"}}, Listing{"upcoming", {"upcoming"}},
                    Listing{"pause", {"pause", "{job}"}}, Listing{"resume", {"resume", "{job}"}},
                    Listing{"delete", {"delete", "{job}"}}, Listing{"endpoints", {"endpoints"}}),
    [](const auto& info) { return std::string(info.param.name); });

// JSON is for programs: the name comes back exactly.
TEST_F(CtlJson, KeepsNamesExact) {
    saved(projectJob(hostile));
    auto listed = json::parse(ctl({"jobs", "--json"}).out);
    ASSERT_TRUE(listed);
    EXPECT_EQ((*listed)[0]["name"], hostile);
}
