#include "base/Files.h"
#include "harness/CommandBuilder.h"
#include "harness/HarnessSummary.h"
#include "harness/ModelCatalog.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) {
    return files::read(std::string(MARROWBELL_TEST_DATA_DIR) + "/harness/" + name).value();
}

using Ids = std::vector<std::string>;

} // namespace

// A list keeps bare names once; a table skips its header and joins columns; JSON needs
// an object holding a list of objects.
TEST(ModelCatalogTest, ListingsGiveEachIdentifierOnce) {
    EXPECT_EQ(ModelCatalog::identifiersInList("Available models:\n  gpt-5  \nfast (default)\n"
                                              "\r\nollama/qwen3\r\ngpt-5\n"),
              (Ids{"gpt-5", "ollama/qwen3"}));
    EXPECT_EQ(ModelCatalog::identifiersInTable("provider  model  size\nlocal  small  1B\n"
                                               "one row with single spaces\nlocal  small  2B\n",
                                               {0, 1}),
              (Ids{"local/small"}));
    EXPECT_TRUE(ModelCatalog::identifiersInTable("a  b\nc  d\n", {}).empty());
    EXPECT_EQ(ModelCatalog::identifiersInTable(fixture("pi-list-models.txt"), {0, 1}),
              (Ids{"fake/fake-model", "fake-anthropic/fake-claude", "fake-responses/fake-resp"}));
    auto json = [](const char* text) {
        return ModelCatalog::identifiersInJson(text, "models", "slug");
    };
    EXPECT_EQ(
        json(R"({"models":[{"slug":"a"},{"slug":""},{"name":"x"},{"slug":"a"},{"slug":"b"}]})"),
        (Ids{"a", "b"}));
    for (const char* refused : {R"([{"slug":"a"}])", R"({"models":[{"slug":"a"}, 3]})", "not json"})
        EXPECT_TRUE(json(refused).empty()) << refused;
}

TEST(ModelCatalogTest, HelpAliasesAreQuotedNearTheFlag) {
    std::string help = "Usage: tool\n"
                       "  --other 'nope'\n"
                       "  --model <m>   Pick a model, e.g. 'fast',\n"
                       "                'a quoted phrase', 'deep'\n"
                       "                or 'abcdefghijklmnopqrstuvwxy' or 'fast'\n"
                       "  --x\n  --y\n  --z\n"
                       "  --late 'too-far'\n";
    EXPECT_EQ(ModelCatalog::aliasesInHelp(help, "--model"), (Ids{"fast", "deep"}));
    EXPECT_TRUE(ModelCatalog::aliasesInHelp(help, "--absent").empty());
    // The real help text: the possessive "model's" swallows the full-name example.
    EXPECT_EQ(ModelCatalog::aliasesInHelp(fixture("claude-help.txt"), "--model"),
              (Ids{"fable", "opus", "sonnet"}));
}

TEST(ModelCatalogTest, LabelsAndRetention) {
    EXPECT_EQ((ModelOption{"opus", std::nullopt}).label(), "opus");
    EXPECT_EQ((ModelOption{"opus", "opus"}).label(), "opus");
    EXPECT_EQ((ModelOption{"opus", "claude-opus-5"}).label(), "opus — claude-opus-5");
    std::vector<ModelOption> options{{"a", std::nullopt}, {"b", std::nullopt}};
    // An empty choice, or any choice while nothing is listed, is kept.
    EXPECT_TRUE(ModelCatalog::retains("", options) && ModelCatalog::retains("zzz", {}));
    EXPECT_TRUE(ModelCatalog::retains("b", options));
    EXPECT_FALSE(ModelCatalog::retains("c", options));
}

// The minimal environment: PATH with the harness's folder first, and only HOME, USER,
// LANG, TMPDIR and SHELL passed on.
TEST(ModelCatalogTest, RunsTheHarnessInTheDiscoveryFolderWithTheMinimalEnvironment) {
    test::TempDir dir;
    test::ScopedEnv leak("MARROWBELL_LEAK_TEST", "x"), lang("LANG", "en_GB.UTF-8");
    test::writeFile(dir / "tool",
                    "#!/bin/sh\necho \"$(pwd)\"\necho \"PATH=$PATH\"\n"
                    "echo \"leak=${MARROWBELL_LEAK_TEST:-none} $LANG\"\necho \"args=$*\"\n"
                    "echo on-stderr >&2\n",
                    true);
    std::string output = ModelCatalog::run(dir / "tool", {"a", "b"}, 10);
    EXPECT_EQ(output, fs::canonical(CommandBuilder::discoveryDirectory()).string() + "\n" +
                          "PATH=" + dir.path().string() + ":/usr/bin:/bin:/usr/sbin:/sbin\n" +
                          "leak=none en_GB.UTF-8\nargs=a b\n");
    EXPECT_EQ(ModelCatalog::run(dir / "tool", {}, 10, ChildProcess::Stream::standardError),
              "on-stderr\n");
    EXPECT_EQ(ModelCatalog::run(dir / "absent", {}, 10), "");
    // A table on standard error: the ctl harnesses test (Pi's stand-in).
    ModelSource table{ModelSource::Table{{"--list-models"}, {0, 1}, true}};
    EXPECT_TRUE(ModelCatalog::models(std::nullopt, dir / "tool").empty());
    EXPECT_TRUE(ModelCatalog::models(table, std::nullopt).empty());
}

TEST(ModelCatalogTest, AHungListingIsCutOffAndGivesNothing) {
    test::TempDir dir;
    test::writeFile(dir / "tool", "#!/bin/sh\necho partial\nexec sleep 30\n", true);
    EXPECT_EQ(ModelCatalog::run(dir / "tool", {}, 0.3), "");
}

TEST(ModelCatalogTest, ResolvesAliasesConcurrentlyAndCachesOnlySuccesses) {
    test::TempDir dir;
    // Counts its runs per alias; "broken" never resolves.
    const std::string runs = (dir / "runs-").string();
    test::writeFile(dir / "tool",
                    "#!/bin/sh\nif [ \"$1\" = --help ]; then echo \"  --model  e.g. 'fast', "
                    "'broken', 'deep'\"; exit 0; fi\necho run >> " +
                        runs +
                        "$2\n"
                        "echo 'not json'\necho '{\"other\": 1}'\n[ \"$2\" = broken ] && exit 0\n"
                        "echo \"{\\\"model\\\": \\\"full-$2\\\"}\"\n",
                    true);
    ModelSource source{
        ModelSource::HelpAliases{"--model", ModelResolution{{"-m", "{model}"}, "model"}}};
    std::vector<ModelOption> expected{
        {"fast", "full-fast"}, {"broken", std::nullopt}, {"deep", "full-deep"}};
    EXPECT_EQ(ModelCatalog::models(source, dir / "tool"), expected);
    EXPECT_EQ(ModelCatalog::models(source, dir / "tool"), expected);
    auto ran = [&](const std::string& alias) {
        std::ifstream in(runs + alias);
        return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
    };
    EXPECT_EQ(ran("fast"), 1);
    EXPECT_EQ(ran("broken"), 2);
}

TEST(HarnessSummaryTest, StatesSkillsModelsAndLimits) {
    HarnessSpec spec;
    spec.limitEnforcement = LimitEnforcement::toolAllowlist;
    EXPECT_EQ(HarnessSummary::line(spec, std::nullopt, std::nullopt),
              "no per-run skills · not kept to a folder");
    spec.skills = SkillSupport{"--skill", true, SkillStyle::additive, std::nullopt, std::nullopt};
    spec.limitEnforcement = LimitEnforcement::operatingSystem;
    EXPECT_EQ(HarnessSummary::line(spec, 0, 0),
              "no skills installed · models not listable · kept to one folder, even in a shell");
    EXPECT_EQ(HarnessSummary::line(spec, 1, 1),
              "1 skill · 1 model · kept to one folder, even in a shell");
    EXPECT_EQ(HarnessSummary::facts(spec, 3, 12),
              (Ids{"3 skills", "12 models", "kept to one folder, even in a shell"}));
    EXPECT_EQ(HarnessSummary::facts(spec, std::nullopt, 2),
              (Ids{"2 models", "kept to one folder, even in a shell"}));
}
