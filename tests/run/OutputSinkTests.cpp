#include "base/Utf8.h"
#include "run/OutputSink.h"

#include <gtest/gtest.h>
#include <span>
#include <string>
#include <vector>

using namespace marrowbell;
using Lines = std::vector<std::string>;

namespace {

// Feeds `bytes` in pieces of `chunk` bytes, then finishes.
Lines linesOf(std::string_view bytes, std::size_t chunk) {
    Lines lines;
    OutputSink sink([&](std::string_view line) { lines.emplace_back(line); });
    for (std::size_t i = 0; i < bytes.size(); i += chunk)
        sink.ingest(bytes.substr(i, chunk));
    sink.finish();
    return lines;
}

const std::string replacement = "\xEF\xBF\xBD";

} // namespace

TEST(OutputSink, DeliversCompleteLinesAsTheyArriveAndTheRestAtFinish) {
    Lines lines;
    OutputSink sink([&](std::string_view line) { lines.emplace_back(line); });
    sink.ingest("a\nb");
    EXPECT_EQ(lines, Lines{"a"});
    sink.ingest("c\n\nd");
    EXPECT_EQ(lines, (Lines{"a", "bc", ""}));
    sink.finish();
    sink.finish(); // nothing pending any more
    EXPECT_EQ(lines, (Lines{"a", "bc", "", "d"}));
}

// The lines of one read reach their consumers in one call (one lock, one transcript
// write per read), still whole, in order and repaired.
TEST(OutputSink, HandsTheLinesOfOneReadOverTogether) {
    std::vector<Lines> batches;
    OutputSink sink(OutputSink::LinesCallback([&](std::span<const std::string_view> lines) {
        batches.emplace_back(lines.begin(), lines.end());
    }));
    sink.ingest("par");
    EXPECT_TRUE(batches.empty());
    sink.ingest("tial\nbad \xFF\n\nlast");
    sink.finish();
    EXPECT_EQ(batches, (std::vector<Lines>{{"partial", "bad " + replacement, ""}, {"last"}}));
}

// Multi-byte characters (2, 3 and 4 bytes) and an invalid byte, cut at every width;
// carriage returns and empty lines are kept, a truncated last character repaired.
TEST(OutputSink, SplittingTheInputAnywhereDeliversTheSameLines) {
    std::string stream =
        "h\xC3\xA9llo\n\xE2\x82\xAC 5\r\n\xF0\x9F\x98\x80!\nbad \xFF end\n\nlast \xE2\x82";
    Lines whole = linesOf(stream, stream.size());
    EXPECT_EQ(whole, (Lines{"h\xC3\xA9llo", "\xE2\x82\xAC 5\r", "\xF0\x9F\x98\x80!",
                            "bad " + replacement + " end", "", "last " + replacement}));
    for (std::size_t chunk = 1; chunk < stream.size(); ++chunk)
        EXPECT_EQ(linesOf(stream, chunk), whole) << "chunk " << chunk;
}

TEST(OutputSink, TailKeepsTheLast256KiBAndRepairsACutCharacter) {
    OutputSink sink;
    std::string stream;
    while (stream.size() < OutputSink::tailLimit + 1000)
        stream += "\xE2\x82\xAC";
    for (std::size_t i = 0; i < stream.size(); i += 7000)
        sink.ingest(std::string_view(stream).substr(i, 7000));
    // 262144 = 3 × 87381 + 1: the cut leaves the last byte of a character first.
    EXPECT_EQ(sink.text(), replacement + stream.substr(stream.size() - 87381 * 3));

    OutputSink huge; // one chunk, without a callback: only the tail is kept
    huge.ingest(std::string(3 * OutputSink::tailLimit, 'x') + "end");
    huge.finish();
    EXPECT_EQ(huge.text().size(), OutputSink::tailLimit);
    EXPECT_TRUE(huge.text().ends_with("end"));
}

TEST(OutputSink, AnEndlessLineWithoutNewlineIsDeliveredInBoundedPieces) {
    Lines lines;
    OutputSink sink([&](std::string_view line) { lines.emplace_back(line); });
    const std::size_t rest = OutputSink::lineLimit / 2;
    std::string chunk(OutputSink::lineLimit / 4, 'y');
    for (std::size_t sent = 0; sent < OutputSink::lineLimit + rest; sent += chunk.size())
        sink.ingest(chunk);
    EXPECT_EQ(lines.size(), 1u) << "the first piece as soon as it is full";
    sink.ingest("z\n");
    EXPECT_EQ(lines,
              (Lines{std::string(OutputSink::lineLimit, 'y'), std::string(rest, 'y') + "z"}));
}

struct RepairCase {
    const char* name;
    std::string input;
    std::string expected;
};

class Utf8Repair : public testing::TestWithParam<RepairCase> {};

TEST_P(Utf8Repair, ReplacesEachMaximalInvalidSubsequence) {
    const RepairCase& c = GetParam();
    EXPECT_EQ(utf8::repaired(c.input), c.expected);
    EXPECT_EQ(utf8::isValid(c.input), c.input == c.expected);
    EXPECT_TRUE(utf8::isValid(utf8::repaired(c.input)));
}

const std::string r2 = replacement + replacement, r3 = r2 + replacement;

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Repair,
    testing::Values(RepairCase{"valid", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                               "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
                    RepairCase{"loneContinuation", "a\x80z", "a" + replacement + "z"},
                    RepairCase{"truncatedThree", "\xE2\x82z", replacement + "z"},
                    RepairCase{"overlong", "\xC0\xAF", r2},
                    RepairCase{"overlongThree", "\xE0\x80\xAF", r3},
                    RepairCase{"surrogate", "\xED\xA0\x80", r3},
                    RepairCase{"pastMaximum", "\xF4\x90\x80\x80", r3 + replacement},
                    RepairCase{"invalidLead", "\xFF\xFE", r2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8, TrimsSpaceSeparatorsAndOptionallyNewlines) {
    std::string nbsp = "\xC2\xA0", ideographic = "\xE3\x80\x80", lineSeparator = "\xE2\x80\xA8";
    EXPECT_EQ(utf8::trimmed(" \t" + nbsp + "x y" + ideographic + " ", false), "x y");
    EXPECT_EQ(utf8::trimmed(" {}\r", false), "{}\r");
    EXPECT_EQ(utf8::trimmed("\n x \r\n" + lineSeparator, true), "x");
    EXPECT_EQ(utf8::trimmed("\n x \r\n", false), "\n x \r\n");
    EXPECT_EQ(utf8::trimmed(" \t ", false), "");
    // A lone trailing byte that merely resembles the end of a space stays.
    EXPECT_EQ(utf8::trimmed("x\xA0", false), "x\xA0");
}
