#include "ctl/SchedulerCommandSupport.h"

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

// A home whose ~/.local/bin (the first manifest folder) holds stand-ins for the four
// harnesses, and no login shell to add more, so the real tools never answer.
class HarnessCommands : public test::CtlTest {
protected:
    fs::path bin = home() / ".local/bin";

    void SetUp() override {
        env.insert(env.end(), {"SHELL=/bin/false", "LANG=C"});
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
        EXPECT_THAT(result.out, HasSubstr(line));

    Json list = Json::parse(ctl({"harnesses", "--json"}).out);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1]["id"], "codex");
    EXPECT_EQ(list[1]["installed"], true);
    EXPECT_EQ(list[1]["executable"], (bin / "codex").string());
    EXPECT_EQ(list[1]["models"], Json::array({"gpt-a"}));
    EXPECT_EQ(list[1]["summary"],
              "no per-run skills · 1 model · kept to one folder, even in a shell");
}

TEST_F(HarnessCommands, PreviewShowsTheCommandItsWarningsTheSandboxAndMaskedKeys) {
    Job job = test::makeJob("Docs sweep");
    job.harnessID = "claude";
    job.permission = PermissionLevel::readOnly;
    job.model = "opus";
    job.skills = {"lint"};
    job.endpointID = endpoint("Studio").id;
    saved(job);

    test::ProcessResult result = ctl({"preview", "docs sweep"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string folder = job.workingDirectory.fsPath().string();
    EXPECT_EQ(result.out, "claude --print --output-format stream-json --verbose --permission-mode "
                          "dontAsk --model opus\nWorking folder: " +
                              folder + "\nEnvironment: PWD=" + folder +
                              "\nThe prompt goes to standard input.\n"
                              "warning: Claude Code speaks the Anthropic protocol and Studio "
                              "answers in OpenAI. The endpoint was not applied — a run would get "
                              "a reply it cannot read.\nwarning: Claude Code cannot load skills "
                              "for a single run; none were attached.\n");

    job = test::makeJob("Odd tool");
    job.harnessID = "gopher";
    saved(job);
    result = ctl({"preview", "Odd tool"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err,
              "marrowbellctl: No harness called \"gopher\" is described in the manifest.\n");

    // A sandboxed harness: the sandbox, the run files and the key, masked.
    job = test::makeJob("Tidy");
    job.harnessID = "pi";
    job.permission = PermissionLevel::scopedWrite;
    job.endpointID =
        endpoint("Gateway", "https://gw.example/v1", EndpointKind::openAICompatible).id;
    job.model = "m";
    saved(job);
    test::ProcessResult set = ctl({"endpoints", "set-key", "Gateway"}, "sk-test-key-1234\n");
    ASSERT_EQ(set.exitStatus, 0) << set.err;
    result = ctl({"preview", job.id.text()});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_THAT(result.out, StartsWith("marrowbell-sandbox -p PROFILE " + bin.string() +
                                       "/pi --print --mode json --model marrowbell/m\n"));
    for (const char* line :
         {"\nEnvironment: MARROWBELL_ENDPOINT_KEY=sk-…34\n", "/Marrowbell/runs/{run}\n",
          "\nRun file models.json (in the run's own folder):\n",
          "\"baseUrl\": \"https://gw.example/v1\""})
        EXPECT_THAT(result.out, HasSubstr(line));
    EXPECT_THAT(result.out, Not(HasSubstr("sk-test-key-1234")));
    EXPECT_THAT(result.out, Not(HasSubstr("warning:")));

    test::ProcessResult profile = ctl({"preview", "--profile", "Tidy"});
    ASSERT_EQ(profile.exitStatus, 0) << profile.err;
    EXPECT_THAT(profile.out, StartsWith("(version 1)\n"));
    EXPECT_THAT(profile.out, HasSubstr("(allow file-write* (subpath \""));
}
