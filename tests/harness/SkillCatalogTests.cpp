#include "harness/SkillCatalog.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;

using Names = std::vector<std::string>;
using Map = std::map<std::string, std::string>;

TEST(FrontmatterTest, ReadsKeysAndBlocksBeforeTheClosingMarker) {
    EXPECT_EQ(SkillCatalog::frontmatter("---\nname: lint\ndescription: |\n  Checks style\n"
                                        "\tand naming.\ntitle: \"Quoted\"\nempty:\n"
                                        "no colon here\n: no key\n---\nname: body-is-ignored\n"),
              (Map{{"name", "lint"},
                   {"description", "Checks style and naming."},
                   {"title", "\"Quoted\""}}));
    // An indented line after a plain key is a key line.
    EXPECT_EQ(SkillCatalog::frontmatter("---\r\nname: a\r\n  summary: b\r\nname: c\r\n"),
              (Map{{"name", "c"}, {"summary", "b"}}));
    // A block open at the end is still stored.
    EXPECT_EQ(SkillCatalog::frontmatter("---\ndescription: >\n---\n"), (Map{{"description", ""}}));
    EXPECT_EQ(SkillCatalog::frontmatter("---\nd: >\n  one\n  two"), (Map{{"d", "one two"}}));
    EXPECT_TRUE(SkillCatalog::frontmatter("name: x\n").empty());
    EXPECT_TRUE(SkillCatalog::frontmatter("").empty());
}

TEST(PlausibleNameTest, RejectsHeadersAndPunctuation) {
    for (const char* good : {"lint", "pdf-tools", "AB", "Go", "X1", "docs.v2"})
        EXPECT_TRUE(SkillCatalog::isPlausibleName(good)) << good;
    for (const char* bad : {"", "two words", "a:b", "{x}", "[x]", "\"x\"", "a,b", "`x`", "/path",
                            "end.", "NAME", "ID1"})
        EXPECT_FALSE(SkillCatalog::isPlausibleName(bad)) << bad;
}

TEST(SkillListingTest, TakesNamesBeforeRemarksOrFromAColumn) {
    EXPECT_EQ(SkillCatalog::namesInListing("SKILLS\nlint (user)\n  Checks style\n\tmore detail\n"
                                           "OK\ndocs (project) extra\nlint\n"),
              (Names{"lint", "OK", "docs", "lint"}));
    // Table rows need the required prefix.
    std::string table = "NAME    STATUS    SOURCE\n"
                        "lint    enabled   user\n"
                        "docs    disabled  user\n"
                        "pdf     enabled   project\n"
                        "lint    enabled   user\n"
                        "short\n";
    EXPECT_EQ(SkillCatalog::namesInTable(table, 0, ColumnRequirement{1, "enabled"}),
              (Names{"lint", "pdf"}));
    EXPECT_EQ(SkillCatalog::namesInTable(table, 0, std::nullopt),
              (Names{"lint", "docs", "pdf", "short"}));
    EXPECT_TRUE(SkillCatalog::namesInTable(table, 5, std::nullopt).empty());
}

TEST(SkillCatalogTest, ListsADirectorySortedById) {
    test::TempDir dir;
    test::writeFile(dir / "skills/zeta/SKILL.md", "# no front matter\n");
    test::writeFile(dir / "skills/b-folder/SKILL.md",
                    "---\nname: alpha\ndescription: First one\n---\nbody\n");
    test::writeFile(dir / "skills/.hidden/SKILL.md", "---\nname: mid\n---\n");
    test::writeFile(dir / "skills/empty/README.md", "not a skill");
    SkillSource source{SkillSource::Directory{(dir / "skills").string(), "SKILL.md"}};
    EXPECT_EQ(SkillCatalog::skills(source, std::nullopt),
              (std::vector<Skill>{{"alpha", "alpha", "First one"},
                                  {"mid", "mid", std::nullopt},
                                  {"zeta", "zeta", std::nullopt}}));
    SkillSource missing{SkillSource::Directory{(dir / "absent").string(), "SKILL.md"}};
    EXPECT_EQ(SkillCatalog::discover(missing, std::nullopt), Discovery<Skill>::answered({}));
}

TEST(SkillCatalogTest, CommandSourcesNeedAnExecutableAndASuccessfulRun) {
    test::TempDir dir;
    SkillSource command{SkillSource::Command{{"skills", "list"}}};
    EXPECT_EQ(SkillCatalog::discover(command, std::nullopt), Discovery<Skill>::unavailable());
    EXPECT_EQ(SkillCatalog::discover(std::nullopt, dir / "x"), Discovery<Skill>::unavailable());
    test::writeFile(dir / "tool",
                    "#!/bin/sh\ntest \"$*\" = \"skills list\" || exit 2\n"
                    "printf 'Installed:\\nzed (user)\\n  detail\\nalpha\\n'\n",
                    true);
    EXPECT_EQ(SkillCatalog::discover(command, dir / "tool"),
              Discovery<Skill>::answered(
                  {{"alpha", "alpha", std::nullopt}, {"zed", "zed", std::nullopt}}));
    test::writeFile(dir / "failing", "#!/bin/sh\necho alpha\nexit 1\n", true);
    EXPECT_EQ(SkillCatalog::discover(command, dir / "failing"), Discovery<Skill>::answered({}));
    SkillSource table{SkillSource::Table{{"skills"}, 0, ColumnRequirement{1, "on"}}};
    test::writeFile(dir / "tabular", "#!/bin/sh\nprintf 'NAME  STATE\\nb  on\\na  off\\n'\n", true);
    EXPECT_EQ(SkillCatalog::skills(table, dir / "tabular"),
              (std::vector<Skill>{{"b", "b", std::nullopt}}));
}

TEST(DiscoveryTest, OnlyAnAnswerJudgesSavedSelections) {
    auto key = [](const Skill& skill) { return skill.id; };
    std::set<std::string> saved{"a", "gone"};
    auto answered =
        Discovery<Skill>::answered({{"a", "a", std::nullopt}, {"b", "b", std::nullopt}});
    EXPECT_TRUE(answered.canJudgeSelections());
    EXPECT_EQ(answered.surviving(saved, key), (std::set<std::string>{"a"}));
    auto unavailable = Discovery<Skill>::unavailable();
    EXPECT_FALSE(unavailable.canJudgeSelections());
    EXPECT_TRUE(unavailable.items().empty());
    EXPECT_EQ(unavailable.surviving(saved, key), saved);
}
