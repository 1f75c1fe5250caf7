#include "model/ModelTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace marrowbell::app {
namespace {

#ifndef NDEBUG
// Debug builds stop a use of the model from another thread at once, before it races
// with the main thread.
TEST(MainThreadDeathTest, TheModelIsNotUsedOffTheMainThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::ModelHome home;
    auto model = home.model();
    EXPECT_DEATH(std::thread([&] { model->jobs(); }).join(), "off the main thread");
    EXPECT_DEATH(std::thread([&] { model->refresh(); }).join(), "off the main thread");
}
#endif

} // namespace
} // namespace marrowbell::app
