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

struct RejectedProfile {
    const char* name;
    const char* text;
    const char* message;
};

// One row per branch; the third header line: the launcher's fail-closed test.
class SandboxPolicyRejects : public ::testing::TestWithParam<RejectedProfile> {};

TEST_P(SandboxPolicyRejects, WithTheLineAndReason) {
    try {
        SandboxPolicy::parse(GetParam().text);
        FAIL() << "parsed";
    } catch (const SandboxPolicyError& error) {
        EXPECT_EQ(std::string(error.what()), GetParam().message);
    }
}

#define HEADER "(version 1)\n(allow default)\n(deny file-write*)\n"

INSTANTIATE_TEST_SUITE_P(
    Profiles, SandboxPolicyRejects,
    ::testing::Values(
        RejectedProfile{"Empty", "", "line 1: the profile must begin with (version 1)"},
        RejectedProfile{"OtherVersion", "(version 2)\n(allow default)\n(deny file-write*)",
                        "line 1: the profile must begin with (version 1)"},
        RejectedProfile{"DenyWriteOfAFolder", HEADER "(deny file-write* (subpath \"/x\"))",
                        "line 4: not a rule of this profile language"},
        RejectedProfile{"ReadDenialByPattern", HEADER "(deny file-read* (regex #\"^/x\"))",
                        "line 4: not a rule of this profile language"},
        RejectedProfile{"LiteralAsFolder", HEADER "(allow file-write* (literal \"/x\"))",
                        "line 4: not a rule of this profile language"},
        RejectedProfile{"RuleWithoutFilter", HEADER "(allow file-write*)",
                        "line 4: not a rule of this profile language"},
        RejectedProfile{"RelativePath", HEADER "(allow file-write* (subpath \"tmp\"))",
                        "line 4: the path \"tmp\" is not absolute"},
        RejectedProfile{"UnquotedPath", HEADER "(allow file-write* (subpath /tmp))",
                        "line 4: a path must be a quoted string"},
        RejectedProfile{"UnterminatedString", HEADER "(allow file-write* (subpath \"/tmp))",
                        "line 4: a string is not closed"},
        RejectedProfile{"UnknownEscape", HEADER "(allow file-write* (subpath \"/t\\mp\"))",
                        "line 4: a backslash in a string must precede \" or \\"},
        RejectedProfile{"UnclosedForm", HEADER "(allow file-write* (subpath \"/tmp\")",
                        "line 4: a form is not closed"},
        RejectedProfile{"StrayParenthesis", HEADER ")", "line 4: unexpected \")\""}),
    [](const auto& info) { return info.param.name; });
