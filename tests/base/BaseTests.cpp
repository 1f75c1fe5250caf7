#include "base/FileUrl.h"
#include "base/Files.h"
#include "base/Json.h"
#include "base/Uuid.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;

TEST(Uuid, TextIsCanonicalUpperCaseAndRoundTrips) {
    auto id = Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->text(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    Uuid fresh = Uuid::random();
    EXPECT_EQ(Uuid::parse(fresh.text()), fresh);
    EXPECT_EQ(fresh.text()[14], '4');
    EXPECT_NE(Uuid::random(), fresh);
}

TEST(Uuid, RejectsNonCanonicalText) {
    for (const char* text :
         {"", "0F8FAD5B-D9CB-469F-A165-70867728950", "0F8FAD5BXD9CB-469F-A165-70867728950E",
          "0F8FAD5B-D9CB-469F-A165-70867728950G", "{0F8FAD5B-D9CB-469F-A165-70867728950E}"})
        EXPECT_FALSE(Uuid::parse(text)) << text;
}

TEST(FileUrl, PercentEncodesAndDecodesPaths) {
    FileUrl url = FileUrl::fromPath("/home/me/My Project/ä%#", true);
    EXPECT_EQ(url.absoluteString, "file:///home/me/My%20Project/%C3%A4%25%23/");
    EXPECT_EQ(url.fsPath(), "/home/me/My Project/ä%#");
    EXPECT_EQ(FileUrl::parse("file://localhost/tmp/a")->fsPath(), "/tmp/a");
    EXPECT_EQ(FileUrl::parse("file:///")->fsPath(), "/");
    EXPECT_FALSE(FileUrl::parse("http://example.com/x"));
    EXPECT_FALSE(FileUrl::parse("file://host/x"));
    EXPECT_FALSE(FileUrl::parse("/tmp/a"));
}

TEST(Files, AtomicWriteReplacesWholeFileWithModeAndLeavesNoTemporary) {
    test::TempDir dir;
    fs::path target = dir / "a.json";
    files::writeAtomically(target, "old");
    files::writeAtomically(target, "new content", 0600);
    EXPECT_EQ(files::read(target), "new content");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(Files, FailedAtomicWriteLeavesTheOldFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    test::TempDir dir;
    fs::path target = dir / "a.json";
    files::writeAtomically(target, "old");
    fs::permissions(dir.path(), fs::perms(0555));
    EXPECT_THROW(files::writeAtomically(target, "new"), std::system_error);
    fs::permissions(dir.path(), fs::perms(0755));
    EXPECT_EQ(files::read(target), "old");
}

TEST(Files, ReadOfAFolderOrMissingFileIsNone) {
    test::TempDir dir;
    EXPECT_FALSE(files::read(dir.path()));
    EXPECT_FALSE(files::read(dir / "missing"));
}

TEST(Json, PrettyOutputSortsKeysAndSurvivesInvalidUtf8) {
    Json value = {{"b", 1}, {"a", std::string("x\xff")}};
    EXPECT_EQ(json::pretty(value), "{\n  \"a\": \"x\xEF\xBF\xBD\",\n  \"b\": 1\n}\n");
}

TEST(Json, StrictReadsRejectWrongTypesAndTolerateMissingOptionals) {
    Json o = *json::parse(R"({"s":"t","n":null,"i":3,"f":2.5,"b":true,"l":["x"]})");
    EXPECT_EQ(json::requiredString(o, "s"), "t");
    EXPECT_THROW(json::requiredString(o, "n"), DecodeError);
    EXPECT_THROW(json::requiredString(o, "missing"), DecodeError);
    EXPECT_THROW(json::requiredString(o, "i"), DecodeError);
    EXPECT_FALSE(json::optionalString(o, "n"));
    EXPECT_THROW(json::optionalBool(o, "s"), DecodeError);
    EXPECT_EQ(json::requiredInt(o, "i"), 3);
    EXPECT_THROW(json::requiredInt(o, "f"), DecodeError);
    EXPECT_EQ(json::requiredDouble(o, "i"), 3.0);
    EXPECT_EQ(*json::optionalStrings(o, "l"), std::vector<std::string>{"x"});
    EXPECT_FALSE(json::parse("{"));
}

#include "run/DurationText.h"

TEST(DurationText, SecondsBelowAMinuteThenMinutesAndSeconds) {
    EXPECT_EQ(readable(0), "0s");
    EXPECT_EQ(readable(0.4), "0s");
    EXPECT_EQ(readable(41.6), "42s");
    EXPECT_EQ(readable(60), "1m 0s");
    EXPECT_EQ(readable(303.9), "5m 3s");
    EXPECT_EQ(readable(3600), "60m 0s");
    EXPECT_EQ(readable(7510), "125m 10s");
    EXPECT_EQ(readable(-5), "0s");
    EXPECT_EQ(readable(std::nan("")), "0s");
}

TEST(Files, AtomicWriteIntoAFolderOfFilesLeavesOnlyTheTarget) {
    test::TempDir dir;
    for (int i = 0; i < 50; ++i)
        files::writeAtomically(dir / "runs.json",
                               std::string(static_cast<std::size_t>(i) * 1000, 'x'));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(files::read(dir / "runs.json")->size(), 49000u);
}
