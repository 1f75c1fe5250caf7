#include "base/Utf8.h"
#include "run/OutputSink.h"

#include <gtest/gtest.h>
#include <span>
#include <string>
#include <vector>

using namespace marrowbell;

namespace {

struct Collected {
    std::vector<std::string> lines;
    OutputSink::LineCallback callback() {
        return [this](std::string_view line) { lines.emplace_back(line); };
    }
};

// Feeds `bytes` in pieces of `chunk` bytes, then finishes.
std::vector<std::string> linesOf(std::string_view bytes, std::size_t chunk) {
    Collected collected;
    OutputSink sink(collected.callback());
    for (std::size_t i = 0; i < bytes.size(); i += chunk)
        sink.ingest(bytes.substr(i, chunk));
    sink.finish();
    return collected.lines;
}

const std::string replacement = "\xEF\xBF\xBD";

} // namespace

TEST(OutputSink, DeliversCompleteLinesAsTheyArriveAndTheRestAtFinish) {
    Collected collected;
    OutputSink sink(collected.callback());
    sink.ingest("a\nb");
    EXPECT_EQ(collected.lines, std::vector<std::string>{"a"});
    sink.ingest("c\n\nd");
    EXPECT_EQ(collected.lines, (std::vector<std::string>{"a", "bc", ""}));
    sink.finish();
    EXPECT_EQ(collected.lines, (std::vector<std::string>{"a", "bc", "", "d"}));
    sink.finish(); // nothing pending any more
    EXPECT_EQ(collected.lines.size(), 4u);
}

TEST(OutputSink, SplittingTheInputAnywhereDeliversTheSameLines) {
    // Multi-byte characters (2, 3 and 4 bytes) and an invalid byte, cut at every width.
    std::string stream =
        "h\xC3\xA9llo\n\xE2\x82\xAC 5\r\n\xF0\x9F\x98\x80!\nbad \xFF end\n\nlast \xE2\x82";
    std::vector<std::string> whole = linesOf(stream, stream.size());
    ASSERT_EQ(whole.size(), 6u);
    EXPECT_EQ(whole[0], "h\xC3\xA9llo");
    EXPECT_EQ(whole[1], "\xE2\x82\xAC 5\r"); // carriage returns and empty lines are kept
    EXPECT_EQ(whole[4], "");
    EXPECT_EQ(whole[3], "bad " + replacement + " end");
    EXPECT_EQ(whole[5], "last " + replacement); // a truncated character at the very end
    for (std::size_t chunk = 1; chunk < stream.size(); ++chunk)
        EXPECT_EQ(linesOf(stream, chunk), whole) << "chunk " << chunk;
}

TEST(OutputSink, TailKeepsTheLast256KiBAndRepairsACutCharacter) {
    OutputSink sink;
    std::string euro = "\xE2\x82\xAC";
    std::string stream;
    while (stream.size() < OutputSink::tailLimit + 1000)
        stream += euro;
    for (std::size_t i = 0; i < stream.size(); i += 7000)
        sink.ingest(std::string_view(stream).substr(i, 7000));
    std::string text = sink.text();
    std::string expected = utf8::repaired(stream.substr(stream.size() - OutputSink::tailLimit));
    EXPECT_EQ(text, expected);
    // 262144 = 3 × 87381 + 1: the cut leaves the last byte of a character first.
    EXPECT_EQ(text.substr(0, 3), replacement);
    EXPECT_EQ(text.size(), 3 + 87381 * 3u);
}

TEST(OutputSink, ATailOfOneHugeChunkIsStillBounded) {
    OutputSink sink;
    sink.ingest(std::string(3 * OutputSink::tailLimit, 'x') + "end");
    sink.finish(); // without a callback only the tail is kept
    std::string text = sink.text();
    EXPECT_EQ(text.size(), OutputSink::tailLimit);
    EXPECT_EQ(text.substr(text.size() - 3), "end");
}

TEST(OutputSink, AnEndlessLineWithoutNewlineIsDeliveredInBoundedPieces) {
    Collected collected;
    OutputSink sink(collected.callback());
    const std::size_t rest = OutputSink::lineLimit / 2;
    std::string chunk(OutputSink::lineLimit / 4, 'y');
    for (std::size_t sent = 0; sent < OutputSink::lineLimit + rest; sent += chunk.size())
        sink.ingest(chunk);
    ASSERT_EQ(collected.lines.size(), 1u);
    EXPECT_EQ(collected.lines[0].size(), OutputSink::lineLimit);
    sink.ingest("z\n");
    ASSERT_EQ(collected.lines.size(), 2u);
    EXPECT_EQ(collected.lines[1], std::string(rest, 'y') + "z");
}

// The lines of one read reach their consumers in one call (one lock, one transcript
// write per read), still whole, in order and repaired.
TEST(OutputSink, HandsTheLinesOfOneReadOverTogether) {
    std::vector<std::vector<std::string>> batches;
    OutputSink sink(OutputSink::LinesCallback([&](std::span<const std::string_view> lines) {
        batches.emplace_back(lines.begin(), lines.end());
    }));
    sink.ingest("par");
    EXPECT_TRUE(batches.empty());
    sink.ingest("tial\nbad \xFF\n\nlast");
    sink.finish();
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0], (std::vector<std::string>{"partial", "bad " + replacement, ""}));
    EXPECT_EQ(batches[1], std::vector<std::string>{"last"});
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

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Repair,
    testing::Values(
        RepairCase{"valid", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                   "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        RepairCase{"loneContinuation", "a\x80z", "a" + replacement + "z"},
        RepairCase{"truncatedThree", "\xE2\x82z", replacement + "z"},
        RepairCase{"overlong", "\xC0\xAF", replacement + replacement},
        RepairCase{"overlongThree", "\xE0\x80\xAF", replacement + replacement + replacement},
        RepairCase{"surrogate", "\xED\xA0\x80", replacement + replacement + replacement},
        RepairCase{"pastMaximum", "\xF4\x90\x80\x80",
                   replacement + replacement + replacement + replacement},
        RepairCase{"invalidLead", "\xFF\xFE", replacement + replacement}),
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
