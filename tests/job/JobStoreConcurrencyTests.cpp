#include "job/JobStore.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace marrowbell {
namespace {

// The scheduler reads the jobs while the user saves and deletes them.
TEST(JobStoreConcurrency, ReadersSeeWholeJobsWhileOthersSaveAndRemove) {
    test::TempDir folder;
    JobStore store(folder.path());
    std::vector<Job> jobs;
    for (int i = 0; i < 8; ++i)
        jobs.push_back(test::makeJob("Job " + std::to_string(i), "*/5 * * * *", Instant{1.0 * i}));
    std::atomic<bool> done = false;
    std::thread reader([&] {
        while (!done) {
            for (const Job& job : store.jobs())
                ASSERT_EQ(job.schedule.text(), "*/5 * * * *");
            store.job(jobs[0].id);
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w)
        writers.emplace_back([&, w] {
            for (int round = 0; round < 20; ++round)
                for (std::size_t i = static_cast<std::size_t>(w); i < jobs.size(); i += 2) {
                    Job job = jobs[i];
                    job.prompt = std::to_string(round);
                    store.save(job);
                    if (round % 5 == 4)
                        store.remove(job.id);
                }
        });
    for (auto& writer : writers)
        writer.join();
    done = true;
    reader.join();
    EXPECT_TRUE(store.jobs().empty()); // the last round removed every job
}

} // namespace
} // namespace marrowbell
