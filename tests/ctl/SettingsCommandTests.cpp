#include "base/Files.h"
#include "base/Json.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

class SettingsCommand : public testing::Test {
protected:
    test::ProcessResult ctl(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), test::builtBinary("marrowbellctl").string());
        return test::runProcess(arguments, "", {"XDG_DATA_HOME=" + dir_.path().string()});
    }
    std::filesystem::path file() const { return dir_ / "Marrowbell/settings.json"; }
    test::TempDir dir_;
};

TEST_F(SettingsCommand, ShowsTheDefaultsWithoutWritingAFile) {
    auto text = ctl({"settings"});
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_NE(text.out.find("\ncatch-up          1h (Up to 1 hour late)\n"
                            "default-timeout   60 (1 hour)\n"
                            "notify            failures (only when a run does not succeed)\n"
                            "default-harness   none\n"
                            "default-endpoint  none\n"
                            "transcript-limit  1 GiB\n"),
              std::string::npos)
        << text.out;
    auto asJson = json::parse(ctl({"settings", "--json"}).out);
    ASSERT_TRUE(asJson);
    EXPECT_EQ((*asJson)["catchUpGraceSeconds"], 3600);
    EXPECT_EQ((*asJson)["defaults"]["timeoutSeconds"], 3600);
    EXPECT_EQ((*asJson)["defaults"]["notifyOnFailureOnly"], true);
    EXPECT_FALSE(asJson->contains("defaultHarnessID"));
    EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(SettingsCommand, ShowsStoredValuesAndNamesTheDefaultEndpoint) {
    test::writeFile(dir_ / "Marrowbell/endpoints.json",
                    R"([{"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8","name":"Studio",
                         "baseURL":"http://127.0.0.1:1234/v1","kind":"lmStudio"}])");
    test::writeFile(file(), R"({"defaults":{"timeoutSeconds":600,"notifyOnFailureOnly":false},
                               "defaultHarnessID":"codex",
                               "defaultEndpointID":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8",
                               "catchUpGraceSeconds":0})");
    auto text = ctl({"settings"});
    EXPECT_NE(text.out.find("default-timeout   10 (10 minutes)\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("notify            all (after every run)\n"), std::string::npos);
    EXPECT_NE(text.out.find("default-harness   codex\n"), std::string::npos);
    EXPECT_NE(text.out.find("default-endpoint  Studio (6BA7B810-"), std::string::npos);
    EXPECT_NE(text.out.find("catch-up          never (Never \u2014 always skip)\n"),
              std::string::npos);
    auto asJson = json::parse(ctl({"settings", "--json"}).out);
    ASSERT_TRUE(asJson);
    EXPECT_EQ((*asJson)["defaultEndpointID"], "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
    EXPECT_EQ((*asJson)["catchUpGraceSeconds"], 0);
}

TEST_F(SettingsCommand, AnUndecodableFileShowsDefaultsAndIsSetAsideWithAWarning) {
    test::writeFile(file(), R"({"catchUpGraceSeconds":"soon"})");
    auto result = ctl({"settings", "--json"});
    auto asJson = json::parse(result.out);
    ASSERT_TRUE(asJson);
    EXPECT_EQ((*asJson)["catchUpGraceSeconds"], 3600);
    EXPECT_NE(result.err.find("marrowbellctl: warning: "), std::string::npos) << result.err;
    std::size_t kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(file().parent_path()))
        kept += entry.path().filename().string().starts_with("settings.json.damaged-") &&
                files::read(entry.path()) == R"({"catchUpGraceSeconds":"soon"})";
    EXPECT_EQ(kept, 1u);
    EXPECT_EQ(ctl({"settings", "--verbose"}).exitStatus, 2);
}

TEST_F(SettingsCommand, SetChecksTheValueAndResetRestoresTheDefault) {
    auto result = ctl({"settings", "set", "default-timeout", "90"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "default-timeout: 60 (1 hour) \u2192 90 (1 hour 30 minutes)\n");
    const auto written = files::read(file());
    result = ctl({"settings", "set", "default-timeout", "241"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("whole minutes from 1 to 240"), std::string::npos) << result.err;
    EXPECT_EQ(ctl({"settings", "set", "colour", "red"}).exitStatus, 2);
    EXPECT_EQ(files::read(file()), written);

    result = ctl({"settings", "reset", "default-timeout"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    auto asJson = json::parse(ctl({"settings", "--json"}).out);
    ASSERT_TRUE(asJson);
    EXPECT_EQ((*asJson)["defaults"]["timeoutSeconds"], 3600);
}

} // namespace
} // namespace marrowbell
