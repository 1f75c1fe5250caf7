#include "ctl/SchedulerCommandSupport.h"

#include <regex>
#include <sstream>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using CtlJobs = test::CtlTest;

TEST_F(CtlJobs, WithoutJobsListingsAreEmptyAndCreateNothing) {
    fs::remove_all(support());
    EXPECT_EQ(ctl({"jobs"}).out, "No jobs.\n");
    EXPECT_EQ(ctl({"jobs", "--json"}).out, "[]\n");
    EXPECT_EQ(ctl({"upcoming"}).out, "Nothing scheduled in the next 24 hours\n");
    EXPECT_EQ(Json::parse(ctl({"upcoming", "--json"}).out)["marks"], Json::array());
    EXPECT_EQ(ctl({"runs"}).out, "No runs yet.\n");
    EXPECT_EQ(ctl({"runs", "--json"}).out, "[]\n");
    EXPECT_FALSE(fs::exists(support()));
}

TEST_F(CtlJobs, ListsEveryJobWithScheduleWordsPermissionAndNextRun) {
    auto make = [&](const std::string& name, const std::string& cron, double createdAt) {
        Job job = this->job(name, Instant{createdAt}, cron);
        job.permission = PermissionLevel::scopedWrite;
        job.timeZoneIdentifier = "Europe/Paris";
        return job;
    };
    Job daily = saved(make("Daily digest", "0 8 * * *", 100));
    Job paused = make("Weekly tidy", "0 18 * * 5", 200);
    paused.isPaused = true;
    saved(paused);
    saved(make("Leap", "0 0 30 2 *", 300));
    test::writeFile(support() / "Jobs/broken.json", "{");

    const std::string out = ctl({"jobs"}).out;
    auto at = out.find("Daily digest\n  Schedule:   Every day at 8:00 AM (Europe/Paris)\n"
                       "  Permission: Write in this folder only (scoped write)\n  Next run:   20");
    EXPECT_EQ(at, 0u) << out;
    EXPECT_NE(out.find(":00:00+0", at), std::string::npos) << out;
    EXPECT_THAT(out, HasSubstr("Weekly tidy\n  Schedule:   Every Friday at 6:00 PM (Europe/Paris)\n"
                               "  Permission: Write in this folder only (scoped write)\n"
                               "  Next run:   paused\n"));
    EXPECT_THAT(out, HasSubstr("Leap\n  Schedule:   0 0 30 2 * (Europe/Paris)\n"));
    EXPECT_THAT(out, HasSubstr("  Next run:   never\n"));
    EXPECT_EQ(files::read(support() / "Jobs/broken.json"), "{");

    fs::create_directory(work() / ".git");
    auto listed = Json::parse(ctl({"jobs", "--json"}).out);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0]["id"], daily.id.text());
    EXPECT_EQ(listed[0]["permissionTitle"], "Write in a worktree (scoped write)");
    EXPECT_EQ(listed[0]["permission"], "scopedWrite");
    EXPECT_TRUE(listed[0]["nextRun"].is_string());
    EXPECT_EQ(listed[1]["isPaused"], true);
    EXPECT_TRUE(listed[1]["nextRun"].is_null() && listed[2]["nextRun"].is_null());
    EXPECT_EQ(listed[2]["plainEnglish"], "0 0 30 2 *");

    EXPECT_THAT(ctl({"jobs", "--active"}).out,
                AllOf(HasSubstr("Daily digest"), Not(HasSubstr("Weekly tidy"))));
    EXPECT_THAT(ctl({"jobs", "--paused"}).out,
                AllOf(Not(HasSubstr("Daily digest")), HasSubstr("Weekly tidy")));
}

// At most 48 marks a job, dated in the user's zone (Kolkata's half hour shows which
// zone). That paused jobs have none is ScheduleTimeline's rule, tested there.
TEST_F(CtlJobs, UpcomingListsAtMost48MarksPerJobInTheUsersZone) {
    Job frequent = saved(job("Every ten minutes", Instant::now(), "*/10 * * * *"));
    env.push_back("TZ=Asia/Kolkata");
    const std::regex date(R"(\d{4}-\d\d-\d\dT\d\d:\d0:00\+05:30)");

    std::istringstream lines(ctl({"upcoming"}).out);
    std::string line;
    std::getline(lines, line);
    EXPECT_THAT(line, StartsWith("Next 24 hours \u00B7 48 runs, "));
    EXPECT_THAT(line, HasSubstr(" within the hour"));
    int marks = 0;
    for (; std::getline(lines, line); ++marks)
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(.{25}  Every ten minutes)")) &&
                    std::regex_match(line.substr(0, 25), date))
            << line;
    EXPECT_EQ(marks, 48);

    const Json listed = Json::parse(ctl({"upcoming", "--json"}).out)["marks"];
    ASSERT_EQ(listed.size(), 48u);
    EXPECT_EQ(listed[0]["jobID"], frequent.id.text());
    EXPECT_EQ(listed[0]["jobName"], "Every ten minutes");
    for (const Json& mark : listed)
        EXPECT_TRUE(std::regex_match(mark["date"].get<std::string>(), date)) << mark["date"];
}

} // namespace
} // namespace marrowbell
