#include "harness/SandboxPolicy.h"

#include <gtest/gtest.h>

using namespace marrowbell;

TEST(SandboxPolicy, TextParsesBackToTheSameRules) {
    SandboxPolicy policy;
    policy.writableSubpaths = {"/home/me/work", "/tmp"};
    policy.unreadableSubpaths = {"/home/me/.mozilla", "/home/me/odd \"name\"\\\n(x)"};
    policy.writablePatterns = {"^/private/tmp/claude-[0-9A-Fa-f]+-cwd$"};
    policy.writableLiterals = {"/dev/null", "/dev/tty"};
    EXPECT_EQ(SandboxPolicy::parse(policy.text()), policy);
}

TEST(SandboxPolicy, ParsesRulesInAnyOrderWithSeveralFilters) {
    auto policy = SandboxPolicy::parse(
        "(version 1) (allow default)\n(deny file-write*)\n"
        "(allow file-write-data (literal \"/dev/null\"))\n"
        "(allow file-write* (subpath \"/a\") (regex #\"^/b$\") (subpath \"/c\"))\n"
        "(deny file-read* (subpath \"/d\"))");
    EXPECT_EQ(policy.writableSubpaths, (std::vector<std::string>{"/a", "/c"}));
    EXPECT_EQ(policy.writablePatterns, (std::vector<std::string>{"^/b$"}));
    EXPECT_EQ(policy.unreadableSubpaths, (std::vector<std::string>{"/d"}));
    EXPECT_EQ(policy.writableLiterals, (std::vector<std::string>{"/dev/null"}));
}

TEST(SandboxPolicy, EmptyListsStillMakeTheHeader) {
    EXPECT_EQ(SandboxPolicy{}.text(), "(version 1)\n(allow default)\n(deny file-write*)");
    EXPECT_EQ(SandboxPolicy::parse(SandboxPolicy{}.text()), SandboxPolicy{});
}

// One row per branch; the third header line: the launcher's fail-closed test.
TEST(SandboxPolicy, RejectsWithTheLineAndReason) {
    const std::string header = "(version 1)\n(allow default)\n(deny file-write*)\n";
    const std::string notARule = "line 4: not a rule of this profile language";
    for (const auto& [text, message] : std::initializer_list<std::pair<std::string, std::string>>{
             {"", "line 1: the profile must begin with (version 1)"},
             {"(version 2)\n(allow default)\n(deny file-write*)",
              "line 1: the profile must begin with (version 1)"},
             {header + "(deny file-write* (subpath \"/x\"))", notARule},
             {header + "(deny file-read* (regex #\"^/x\"))", notARule},
             {header + "(allow file-write* (literal \"/x\"))", notARule},
             {header + "(allow file-write*)", notARule},
             {header + "(allow file-write* (subpath \"tmp\"))",
              "line 4: the path \"tmp\" is not absolute"},
             {header + "(allow file-write* (subpath /tmp))",
              "line 4: a path must be a quoted string"},
             {header + "(allow file-write* (subpath \"/tmp))", "line 4: a string is not closed"},
             {header + "(allow file-write* (subpath \"/t\\mp\"))",
              "line 4: a backslash in a string must precede \" or \\"},
             {header + "(allow file-write* (subpath \"/tmp\")", "line 4: a form is not closed"},
             {header + ")", "line 4: unexpected \")\""}}) {
        try {
            SandboxPolicy::parse(text);
            ADD_FAILURE() << "parsed " << text;
        } catch (const SandboxPolicyError& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
}
