#include "job/JobStore.h"
#include "job/JobTestSupport.h"
#include "settings/EndpointStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

// A home whose ~/.local/bin (the first manifest folder) holds stand-ins for the four
// harnesses, and a login shell that adds nothing, so the real tools never answer.
class HarnessCommands : public testing::Test {
protected:
    test::TempDir home;
    fs::path bin = home / ".local/bin";
    fs::path support = home / "data/Marrowbell";

    void SetUp() override {
        test::writeFile(home / "shell", "#!/bin/sh\necho PATH=\n", true);
        tool("claude", "[ \"$1\" = --help ] && printf '  --model <m>  e.g. '\"'\"'opus'\"'\"' or "
                       "'\"'\"'sonnet'\"'\"'\\n'\n");
        tool("codex",
             "[ \"$*\" = \"debug models\" ] && echo '{\"models\":[{\"slug\":\"gpt-a\"}]}'\n");
        tool("opencode", "[ \"$1\" = models ] && printf 'ollama/qwen3\\nopencode/big\\n'\n");
        tool("pi", "[ \"$1\" = --list-models ] && printf 'provider  model  context\\nlocal  "
                   "small  8K\\n' >&2\n");
    }

    void tool(const std::string& name, const std::string& body) {
        test::writeFile(bin / name, "#!/bin/sh\n" + body + "exit 0\n", true);
    }

    test::ProcessResult ctl(std::vector<std::string> arguments, const std::string& input = "") {
        arguments.insert(arguments.begin(), test::builtBinary("marrowbellctl").string());
        return test::runProcess(arguments, input,
                                {"HOME=" + home.path().string(),
                                 "XDG_DATA_HOME=" + (home / "data").string(),
                                 "SHELL=" + (home / "shell").string(), "LANG=C"});
    }
};

} // namespace

// Each harness found by its stand-in with the models that stand-in reports; the summary
// sentences themselves are HarnessSummary's (ModelCatalogTests).
TEST_F(HarnessCommands, ListsEveryHarnessWithItsExecutableAndModels) {
    test::ProcessResult result = ctl({"harnesses"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string b = bin.string();
    for (const std::string& line : std::vector<std::string>{
             "Claude Code (claude): " + b +
                 "/claude\n  no per-run skills · 2 models · kept to one folder; gets no shell\n"
                 "  models: opus sonnet\nCodex (codex): ",
             "Codex (codex): " + b + "/codex\n", "  models: gpt-a\n",
             "opencode (opencode): " + b + "/opencode\n", "  models: ollama/qwen3 opencode/big\n",
             "Pi (pi): " + b + "/pi\n", "  models: local/small\n"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << " in\n" << result.out;
}

TEST_F(HarnessCommands, JsonNamesIdsExecutablesAndModels) {
    test::ProcessResult result = ctl({"harnesses", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    Json list = Json::parse(result.out);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1]["id"], "codex");
    EXPECT_EQ(list[1]["installed"], true);
    EXPECT_EQ(list[1]["executable"], (bin / "codex").string());
    EXPECT_EQ(list[1]["models"], Json::array({"gpt-a"}));
    EXPECT_EQ(list[1]["summary"],
              "no per-run skills · 1 model · kept to one folder, even in a shell");
    EXPECT_FALSE(list[1].contains("skills"));
    EXPECT_EQ(ctl({"harnesses", "--yaml"}).exitStatus, 2);
}

TEST_F(HarnessCommands, PreviewShowsTheCommandAndItsWarnings) {
    Job job = test::makeJob("Docs sweep");
    job.harnessID = "claude";
    job.permission = PermissionLevel::readOnly;
    job.model = "opus";
    job.skills = {"lint"};
    Endpoint studio{Uuid::random(), "Studio", Url{"http://127.0.0.1:1234/v1"},
                    EndpointKind::lmStudio};
    job.endpointID = studio.id;
    JobStore(support / "Jobs").save(job);
    EndpointStore(support / "endpoints.json").save(studio);

    test::ProcessResult result = ctl({"preview", "docs sweep"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(
        result.out,
        "claude --print --output-format stream-json --verbose --permission-mode dontAsk "
        "--model opus\n"
        "Working folder: " +
            job.workingDirectory.fsPath().string() +
            "\n"
            "Environment: PWD=" +
            job.workingDirectory.fsPath().string() +
            "\n"
            "The prompt goes to standard input.\n"
            "warning: Claude Code speaks the Anthropic protocol and Studio answers in OpenAI. The "
            "endpoint was not applied — a run would get a reply it cannot read.\n"
            "warning: Claude Code cannot load skills for a single run; none were attached.\n");
}

TEST_F(HarnessCommands, PreviewShowsTheSandboxTheRunFilesAndMaskedKeys) {
    Job job = test::makeJob("Tidy");
    job.harnessID = "pi";
    job.permission = PermissionLevel::scopedWrite;
    Endpoint gateway{Uuid::random(), "Gateway", Url{"https://gw.example/v1"},
                     EndpointKind::openAICompatible};
    job.endpointID = gateway.id;
    job.model = "m";
    JobStore(support / "Jobs").save(job);
    EndpointStore(support / "endpoints.json").save(gateway);
    test::ProcessResult set = ctl({"endpoints", "set-key", "Gateway"}, "sk-test-key-1234\n");
    ASSERT_EQ(set.exitStatus, 0) << set.err;
    test::ProcessResult result = ctl({"preview", job.id.text()});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with("marrowbell-sandbox -p PROFILE " + bin.string() +
                                       "/pi --print --mode json --model marrowbell/m\n"))
        << result.out;
    for (const char* line :
         {"\nEnvironment: MARROWBELL_ENDPOINT_KEY=sk-…34\n", "/Marrowbell/runs/{run}\n",
          "\nRun file models.json (in the run's own folder):\n",
          "\"baseUrl\": \"https://gw.example/v1\""})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << " in " << result.out;
    EXPECT_EQ(result.out.find("sk-test-key-1234"), std::string::npos);
    EXPECT_EQ(result.out.find("warning:"), std::string::npos) << result.out;

    test::ProcessResult profile = ctl({"preview", "--profile", "Tidy"});
    ASSERT_EQ(profile.exitStatus, 0) << profile.err;
    EXPECT_TRUE(profile.out.starts_with("(version 1)\n")) << profile.out;
    EXPECT_NE(profile.out.find("(allow file-write* (subpath \""), std::string::npos);
}

TEST_F(HarnessCommands, PreviewRefusesUnknownJobsAndReportsMissingHarnesses) {
    EXPECT_EQ(ctl({"preview", "nothing"}).exitStatus, 2);
    EXPECT_EQ(ctl({"preview"}).exitStatus, 2);
    Job job = test::makeJob("Odd tool");
    job.harnessID = "gopher";
    JobStore(support / "Jobs").save(job);
    test::ProcessResult result = ctl({"preview", "Odd tool"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err,
              "marrowbellctl: No harness called \"gopher\" is described in the manifest.\n");
}
