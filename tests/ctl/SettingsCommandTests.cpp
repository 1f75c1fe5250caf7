#include "ctl/SchedulerCommandSupport.h"

namespace marrowbell {
namespace {

namespace fs = std::filesystem;

class SettingsCommand : public test::CtlTest {
protected:
    fs::path file() const { return support() / "settings.json"; }
};

// The defaults are shown without a file written; set and reset reach the file, and the
// listing names the default endpoint. Values are SettingsChange's (its tests).
TEST_F(SettingsCommand, ShowsTheDefaultsThenSetAndResetChangeTheFile) {
    auto text = ctl({"settings"});
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_THAT(text.out,
                HasSubstr("\ncatch-up          1h (Up to 1 hour late)\n"
                          "default-timeout   60 (1 hour)\n"
                          "notify            failures (only when a run does not succeed)\n"
                          "default-harness   none\n"
                          "default-endpoint  none\n"
                          "transcript-limit  1 GiB\n"));
    auto json = Json::parse(ctl({"settings", "--json"}).out);
    EXPECT_EQ(json["catchUpGraceSeconds"], 3600);
    EXPECT_FALSE(json.contains("defaultHarnessID"));
    EXPECT_FALSE(fs::exists(file()));

    const Endpoint studio = endpoint("Studio");
    auto result = ctl({"settings", "set", "default-timeout", "90"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "default-timeout: 60 (1 hour) \u2192 90 (1 hour 30 minutes)\n");
    ASSERT_EQ(ctl({"settings", "set", "default-endpoint", "studio"}).exitStatus, 0);
    EXPECT_THAT(ctl({"settings"}).out, HasSubstr("default-endpoint  Studio (" + studio.id.text()));

    ASSERT_EQ(ctl({"settings", "reset", "default-timeout"}).exitStatus, 0);
    EXPECT_EQ(Json::parse(*files::read(file()))["defaults"]["timeoutSeconds"], 3600);
}

TEST_F(SettingsCommand, AnUndecodableFileShowsDefaultsAndIsSetAsideWithAWarning) {
    test::writeFile(file(), R"({"catchUpGraceSeconds":"soon"})");
    auto result = ctl({"settings", "--json"});
    EXPECT_EQ(Json::parse(result.out)["catchUpGraceSeconds"], 3600);
    EXPECT_THAT(result.err, HasSubstr("marrowbellctl: warning: "));
    auto aside = test::setAside(file());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(files::read(aside[0]), R"({"catchUpGraceSeconds":"soon"})");
}

} // namespace
} // namespace marrowbell
