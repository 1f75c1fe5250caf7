#include "base/FileUrl.h"
#include "base/Files.h"
#include "base/Json.h"
#include "base/Uuid.h"
#include "run/DurationText.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;

TEST(Uuid, TextIsCanonicalUpperCaseAndRoundTrips) {
    EXPECT_EQ(Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e")->text(),
              "0F8FAD5B-D9CB-469F-A165-70867728950E");
    Uuid fresh = Uuid::random();
    EXPECT_EQ(Uuid::parse(fresh.text()), fresh);
    EXPECT_EQ(fresh.text()[14], '4');
    EXPECT_NE(Uuid::random(), fresh);
    for (const char* text :
         {"0F8FAD5B-D9CB-469F-A165-70867728950", // short
          "0F8FAD5BXD9CB-469F-A165-70867728950E", "0F8FAD5B-D9CB-469F-A165-70867728950G"})
        EXPECT_FALSE(Uuid::parse(text)) << text;
}

TEST(FileUrl, PercentEncodesAndDecodesPaths) {
    FileUrl url = FileUrl::fromPath("/home/me/My Project/ä%#", true);
    EXPECT_EQ(url.absoluteString, "file:///home/me/My%20Project/%C3%A4%25%23/");
    EXPECT_EQ(url.fsPath(), "/home/me/My Project/ä%#");
    EXPECT_EQ(FileUrl::parse("file://localhost/tmp/a")->fsPath(), "/tmp/a");
    EXPECT_EQ(FileUrl::parse("file:///")->fsPath(), "/");
    for (const char* text : {"http://example.com/x", "file://host/x", "/tmp/a"})
        EXPECT_FALSE(FileUrl::parse(text)) << text;
}

TEST(Files, AtomicWritesReplaceTheWholeFileWithItsModeAndLeaveNoTemporary) {
    test::TempDir dir;
    files::writeAtomically(dir / "a.json", std::string(50000, 'x'));
    files::writeAtomically(dir / "a.json", "new content", 0600);
    EXPECT_EQ(files::read(dir / "a.json"), "new content");
    EXPECT_EQ(fs::status(dir / "a.json").permissions(), fs::perms(0600));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_FALSE(files::read(dir.path())) << "a folder";
    EXPECT_FALSE(files::read(dir / "missing"));
}

// Pretty output sorts keys and survives invalid UTF-8; what does not parse is none. (The
// strict reads are checked through the decoders of jobs, runs and settings.)
TEST(Json, PrettyOutputSortsKeysAndSurvivesInvalidUtf8) {
    Json value = {{"b", 1}, {"a", std::string("x\xff")}};
    EXPECT_EQ(json::pretty(value), "{\n  \"a\": \"x\xEF\xBF\xBD\",\n  \"b\": 1\n}\n");
    EXPECT_FALSE(json::parse("{"));
    Json o = {{"f", 2.5}, {"l", "x"}};
    EXPECT_THROW(json::requiredInt(o, "f"), DecodeError) << "not a whole number";
    EXPECT_THROW(json::optionalStrings(o, "l"), DecodeError) << "not a list";
}

TEST(DurationText, SecondsBelowAMinuteThenMinutesAndSeconds) {
    for (auto [seconds, text] : std::vector<std::pair<double, const char*>>{
             {41.6, "42s"}, {60, "1m 0s"}, {7510.9, "125m 10s"}, {-5, "0s"}, {std::nan(""), "0s"}})
        EXPECT_EQ(readable(seconds), text) << seconds;
}
