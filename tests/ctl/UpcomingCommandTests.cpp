#include "JobCommandFixture.h"

#include <regex>
#include <sstream>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;

using CtlUpcoming = test::JobCommandFixture;

TEST_F(CtlUpcoming, NothingScheduledWithoutJobsAndCreatesNothing) {
    auto result = ctl({"upcoming"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Nothing scheduled in the next 24 hours\n");
    auto document = Json::parse(ctl({"upcoming", "--json"}).out);
    EXPECT_EQ(document, Json({{"summary", "Nothing scheduled in the next 24 hours"},
                              {"marks", Json::array()}}));
    EXPECT_FALSE(fs::exists(supportFolder()));
}

TEST_F(CtlUpcoming, ListsAtMost48MarksPerJobInTheUsersZone) {
    Job frequent = saved(projectJob("Every ten minutes", "*/10 * * * *"));
    Job paused = projectJob("Paused", "* * * * *");
    paused.isPaused = true;
    saved(paused);
    // Kolkata's half-hour offset shows that dates are given in the user's zone.
    environment.push_back("TZ=Asia/Kolkata");

    auto result = ctl({"upcoming"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    std::istringstream lines(result.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("Next 24 hours \u00B7 48 runs, ", 0), 0u) << line;
    EXPECT_NE(line.find(" within the hour"), std::string::npos) << line;
    const std::regex markLine(R"(\d{4}-\d\d-\d\dT\d\d:\d0:00\+05:30  Every ten minutes)");
    int marks = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, markLine)) << line;
        ++marks;
    }
    EXPECT_EQ(marks, 48);

    auto document = Json::parse(ctl({"upcoming", "--json"}).out);
    EXPECT_EQ(document["summary"].get<std::string>().rfind("Next 24 hours \u00B7 48 runs", 0), 0u);
    ASSERT_EQ(document["marks"].size(), 48u);
    std::string previous;
    for (const Json& mark : document["marks"]) {
        EXPECT_EQ(mark["jobID"], frequent.id.text());
        EXPECT_EQ(mark["jobName"], "Every ten minutes");
        const std::string date = mark["date"];
        EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d0:00\+05:30)")))
            << date;
        EXPECT_LT(previous, date);
        previous = date;
    }
}

} // namespace
} // namespace marrowbell
