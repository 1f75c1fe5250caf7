// The job list: its sections and its height.
#include "job/JobTestSupport.h"
#include "panel/JobListModel.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

struct HeightCase {
    int active;
    int paused;
    int expected;
};

class ListHeight : public testing::TestWithParam<HeightCase> {};

std::vector<JobRow> rows(int count, bool paused) {
    std::vector<JobRow> made;
    for (int i = 0; i < count; ++i) {
        Job job = test::makeJob("Job " + std::to_string(i));
        job.isPaused = paused;
        made.push_back(JobRow::make(job, false, std::nullopt, Instant{800000000}));
    }
    return made;
}

// The height counts only the sections shown: an empty one is left out.
TEST_P(ListHeight, FollowsRowsAndShownSectionsUpToTheCap) {
    const auto& c = GetParam();
    JobListModel list;
    list.setSections(QStringLiteral("Next up"), rows(c.active, false), rows(c.paused, true));
    EXPECT_EQ(JobListModel::listHeight(list.jobCount(), list.sectionCount()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Formula, ListHeight,
                         testing::Values(HeightCase{2, 0, 46 * 2 + 31 + 6},
                                         HeightCase{0, 1, 46 + 31 + 6},
                                         HeightCase{3, 2, 46 * 5 + 31 * 2 + 6},
                                         HeightCase{10, 3, 340}));

TEST(JobList, ActiveSectionThenPausedWithEveryRowUnderItsHeading) {
    JobListModel list;
    list.setSections(QStringLiteral("Running"), rows(2, false), rows(1, true));
    std::vector<std::string> shown;
    for (int i = 0; i < list.rowCount(); ++i) {
        QModelIndex index = list.index(i);
        shown.push_back((list.jobRow(index) ? "  " : "") +
                        list.data(index, Qt::DisplayRole).toString().toStdString());
    }
    EXPECT_EQ(shown,
              (std::vector<std::string>{"Running", "  Job 0", "  Job 1", "Paused", "  Job 0"}));
    // Headings cannot take the keyboard's focus or a click.
    EXPECT_EQ(list.flags(list.index(0)), Qt::NoItemFlags);
    EXPECT_TRUE(list.flags(list.index(1)) & Qt::ItemIsEnabled);
}

} // namespace
} // namespace marrowbell::app
