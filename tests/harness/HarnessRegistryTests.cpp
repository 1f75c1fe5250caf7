#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "harness/ShimResolver.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

HarnessSpec specNamed(const std::string& id, std::vector<std::string> names) {
    HarnessSpec spec;
    spec.id = id;
    spec.displayName = "Tool " + id;
    spec.executableNames = std::move(names);
    return spec;
}

HarnessRegistry registryOf(std::vector<HarnessSpec> specs, std::vector<std::string> folders = {},
                           std::vector<ShimManager> managers = {},
                           std::shared_ptr<ShellPath> shell = std::make_shared<ShellPath>()) {
    return HarnessRegistry(std::move(specs), std::move(folders), std::move(managers), {}, {},
                           std::move(shell));
}

void executable(const fs::path& path, const std::string& body = "exit 0\n") {
    test::writeFile(path, "#!/bin/sh\n" + body, true);
}

} // namespace

TEST(SearchPathTest, ManifestFoldersComeFirstWithHomeExpandedAndRepeatsDropped) {
    test::TempDir home;
    test::ScopedEnv scoped("HOME", home.path().string());
    auto shell = std::make_shared<ShellPath>();
    HarnessRegistry registry = registryOf({}, {"~/.local/bin", "/usr/bin", "~"}, {}, shell);
    EXPECT_EQ(registry.expandedSearchPaths(),
              (std::vector<std::string>{home.path().string() + "/.local/bin", "/usr/bin",
                                        home.path().string()}));
    shell->publish({"/opt/tool/bin", "/usr/bin", "/sbin"});
    EXPECT_EQ(registry.expandedSearchPaths(),
              (std::vector<std::string>{home.path().string() + "/.local/bin", "/usr/bin",
                                        home.path().string(), "/opt/tool/bin", "/sbin"}));
    // Copies share the cache and the shell path.
    HarnessRegistry copy = registry;
    EXPECT_EQ(copy.expandedSearchPaths(), registry.expandedSearchPaths());
}

TEST(ShellPathTest, TheLastPathLineWinsWithoutEmptyPieces) {
    EXPECT_EQ(ShellPath::extract("HOME=/h\nPATH=/a:/b\nX=1\nPATH=/c::/d:\n\n"),
              (std::vector<std::string>{"/c", "/d"}));
    EXPECT_TRUE(ShellPath::extract("HOME=/h\nMYPATH=/a\n").empty());
    EXPECT_EQ(ShellPath::extract("PATH=/only"), std::vector<std::string>{"/only"});
}

TEST(ShellPathTest, UsableKeepsAbsoluteExistingFoldersOnce) {
    test::TempDir dir;
    fs::create_directories(dir / "a");
    std::string a = (dir / "a").string();
    EXPECT_EQ(ShellPath::usable({"relative", a, (dir / "missing").string(), a, "/"}),
              (std::vector<std::string>{a, "/"}));
}

TEST(ShellPathTest, DiscoversThePathALoginShellPrints) {
    test::TempDir dir;
    fs::create_directories(dir / "first");
    fs::create_directories(dir / "second");
    executable(dir / "shell", "test \"$1 $2 $3 $4\" = \"-l -i -c /usr/bin/env\" || exit 3\n"
                              "echo PATH=" +
                                  (dir / "first").string() +
                                  "\n"
                                  "echo banner text\n"
                                  "echo PATH=" +
                                  (dir / "second").string() + ":relative::/nonexistent\n");
    EXPECT_EQ(ShellPath::discover(dir / "shell", 5),
              std::vector<std::string>{(dir / "second").string()});
}

TEST(ShellPathTest, AShellThatNeverExitsIsTerminatedAndChangesNothing) {
    test::TempDir dir;
    executable(dir / "shell", "echo PATH=/usr/bin\ntrap 'echo $$ > " + (dir / "ended").string() +
                                  "; exit 0' TERM\nwhile :; do sleep 0.05; done\n");
    ShellPath path({"/earlier"});
    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> found = ShellPath::discover(dir / "shell", 0.5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(fs::exists(dir / "ended")) << "the shell was asked to terminate";
    path.publish(found);
    EXPECT_EQ(path.generation(), 0);
    EXPECT_EQ(path.paths(), std::vector<std::string>{"/earlier"});
    path.publish({"/usr/bin"});
    EXPECT_EQ(path.generation(), 1);
}

TEST(ShellPathTest, NoShellOrANonExecutableOneGivesNothing) {
    test::TempDir dir;
    test::writeFile(dir / "shell", "echo PATH=/usr/bin\n");
    EXPECT_TRUE(ShellPath::discover(std::nullopt, 1).empty());
    EXPECT_TRUE(ShellPath::discover(dir / "shell", 1).empty());
}

TEST(ResolveExecutableTest, TriesEveryNameInEveryFolderInOrder) {
    test::TempDir dir;
    HarnessRegistry registry = registryOf({specNamed("t", {"A", "B"})});
    std::vector<std::string> folders{(dir / "X").string(), (dir / "Y").string()};
    try {
        registry.resolveExecutable(registry.spec("t"), folders);
        FAIL() << "expected executableNotFound";
    } catch (const HarnessError& error) {
        std::string x = (dir / "X").string(), y = (dir / "Y").string();
        EXPECT_EQ(std::string(error.what()), "Could not find the Tool t binary. Looked for: " + x +
                                                 "/A, " + y + "/A, " + x + "/B, " + y + "/B.");
        EXPECT_EQ(error.kind(), HarnessError::Kind::executableNotFound);
    }
}

TEST(ResolveExecutableTest, FindsTheFirstExecutableAndSkipsPlainFiles) {
    test::TempDir dir;
    test::writeFile(dir / "X/B", "not executable");
    executable(dir / "Y/B");
    executable(dir / "Y/C");
    HarnessRegistry registry = registryOf({specNamed("t", {"A", "B", "C"})});
    std::vector<std::string> folders{(dir / "X").string(), (dir / "Y").string()};
    EXPECT_EQ(registry.resolveExecutable(registry.spec("t"), folders), dir / "Y/B");
    EXPECT_TRUE(registry.isInstalled(registry.spec("t"), folders));
}

TEST(HarnessRegistryTest, LooksUpTheFirstSpecWithAnId) {
    HarnessSpec first = specNamed("same", {"one"}), second = specNamed("same", {"two"});
    HarnessRegistry registry = registryOf({first, second});
    EXPECT_EQ(registry.spec("same").executableNames, std::vector<std::string>{"one"});
    try {
        registry.spec("nope");
        FAIL();
    } catch (const HarnessError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "No harness called \"nope\" is described in the manifest.");
        EXPECT_EQ(error, HarnessError::unknownHarness("nope"));
    }
}

TEST(HarnessRegistryTest, PrefersTheFirstInstalledHarnessElseTheFirstListed) {
    test::TempDir dir;
    EXPECT_EQ(registryOf({}).preferredHarnessID(), std::nullopt);
    auto missing = registryOf({specNamed("a", {"mb-absent-a"}), specNamed("b", {"mb-absent-b"})},
                              {(dir / "bin").string()});
    EXPECT_EQ(missing.preferredHarnessID(), "a");
    executable(dir / "bin/mb-tool-b");
    auto installed = registryOf({specNamed("a", {"mb-absent-a"}), specNamed("b", {"mb-tool-b"})},
                                {(dir / "bin").string()});
    EXPECT_EQ(installed.preferredHarnessID(), "b");
    EXPECT_EQ(installed.installedSpecs().size(), 1u);
}

TEST(HarnessRegistryTest, DefaultScheduleParsesOrIsNone) {
    auto registry = HarnessRegistry({}, {}, {}, {}, {"0 9 * * 1-5", {}}, nullptr);
    ASSERT_TRUE(registry.defaultSchedule());
    EXPECT_EQ(registry.defaultSchedule()->text(), "0 9 * * 1-5");
    EXPECT_FALSE(HarnessRegistry({}, {}, {}, {}, {"", {}}, nullptr).defaultSchedule());
    EXPECT_FALSE(HarnessRegistry({}, {}, {}, {}, {"61 * * * *", {}}, nullptr).defaultSchedule());
}

TEST(HarnessRegistryTest, TheBundledManifestOffersTheFourHarnessesInOrder) {
    HarnessRegistry registry = HarnessRegistry::bundled();
    std::vector<std::string> ids;
    for (const HarnessSpec& spec : registry.specs())
        ids.push_back(spec.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"claude", "codex", "opencode", "pi"}));
    EXPECT_EQ(registry.defaultSchedule()->text(), "0 9 * * 1-5");
    ASSERT_EQ(registry.suggestedEndpoints().size(), 2u);
    EXPECT_EQ(registry.suggestedEndpoints()[0].baseURL, "http://127.0.0.1:1234/v1");
    EXPECT_EQ(registry.suggestedEndpoints()[1].baseURL, "http://127.0.0.1:11434/v1");
}

TEST(HarnessRegistryTest, LoadReportsUnreadableAndInvalidFiles) {
    test::TempDir dir;
    EXPECT_THROW(HarnessRegistry::load(dir / "absent.json"), std::system_error);
    test::writeFile(dir / "bad.json", R"({"harnesses": [{"id": 1}]})");
    EXPECT_THROW(HarnessRegistry::load(dir / "bad.json"), DecodeError);
    test::writeFile(dir / "empty.json", R"({"harnesses": []})");
    EXPECT_TRUE(HarnessRegistry::load(dir / "empty.json").specs().empty());
}

class ShimResolverTest : public testing::Test {
protected:
    test::TempDir dir;
    std::string shims = (dir / "mgr/shims").string();
    std::string tools = (dir / "tools").string();
    ShimManager manager{"/mgr/shims/", "mgr", {"which", "--exact"}};

    void resolverPrinting(const std::string& body) { executable(dir / "tools/mgr", body); }
};

TEST_F(ShimResolverTest, AsksTheManagerForTheRealBinary) {
    executable(dir / "real/claude");
    executable(dir / "mgr/shims/claude");
    resolverPrinting("test \"$*\" = \"which --exact claude\" || exit 1\n"
                     "printf '  %s\\n\\n' " +
                     (dir / "real/claude").string() + "\n");
    EXPECT_EQ(ShimResolver::resolve(dir / "mgr/shims/claude", "claude", {shims, tools}, {manager}),
              dir / "real/claude");
}

TEST_F(ShimResolverTest, KeepsTheFoundFileWhenTheResolverIsMissingFailsOrIsSilent) {
    executable(dir / "real/claude");
    executable(dir / "mgr/shims/claude");
    fs::path shim = dir / "mgr/shims/claude";
    EXPECT_EQ(ShimResolver::resolve(shim, "claude", {shims, tools}, {manager}), shim);
    resolverPrinting("echo " + (dir / "real/claude").string() + "\nexit 1\n");
    EXPECT_EQ(ShimResolver::resolve(shim, "claude", {shims, tools}, {manager}), shim);
    resolverPrinting("exit 0\n");
    EXPECT_EQ(ShimResolver::resolve(shim, "claude", {shims, tools}, {manager}), shim);
    resolverPrinting("echo " + (dir / "real/absent").string() + "\n");
    EXPECT_EQ(ShimResolver::resolve(shim, "claude", {shims, tools}, {manager}), shim);
}

TEST_F(ShimResolverTest, ALinkToTheResolverIsResolvedWithoutTheMarker) {
    executable(dir / "real/codex");
    resolverPrinting("echo " + (dir / "real/codex").string() + "\n");
    fs::create_directories(dir / "bin");
    fs::create_symlink(dir / "tools/mgr", dir / "bin/codex");
    EXPECT_EQ(ShimResolver::resolve(dir / "bin/codex", "codex", {(dir / "bin").string(), tools},
                                    {manager}),
              dir / "real/codex");
}

TEST_F(ShimResolverTest, AnUnmanagedFileIsReturnedAsFoundNotLinkResolved) {
    executable(dir / "real/pi");
    fs::create_directories(dir / "bin");
    fs::create_symlink(dir / "real/pi", dir / "bin/pi");
    EXPECT_EQ(ShimResolver::resolve(dir / "bin/pi", "pi", {tools}, {manager}), dir / "bin/pi");
}

TEST_F(ShimResolverTest, AResolverThatNeverExitsIsGivenUp) {
    resolverPrinting("exec sleep 30\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ShimResolver::ask(dir / "tools/mgr", {"which", "x"}, 0.3), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(CommandBuilderEnvironmentTest, PassesOnlyThePathAndFiveVariables) {
    ::setenv("LANG", "en_GB.UTF-8", 1);
    ::setenv("MARROWBELL_SECRET_TEST", "leak", 1);
    auto environment = CommandBuilder::environment("/opt/tools/bin/claude");
    EXPECT_EQ(environment.at("PATH"), "/opt/tools/bin:/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_EQ(environment.at("LANG"), "en_GB.UTF-8");
    EXPECT_FALSE(environment.count("MARROWBELL_SECRET_TEST"));
    for (const auto& [name, value] : environment)
        EXPECT_TRUE(name == "PATH" || name == "HOME" || name == "USER" || name == "LANG" ||
                    name == "TMPDIR" || name == "SHELL")
            << name;
    ::unsetenv("MARROWBELL_SECRET_TEST");
}

TEST(CommandBuilderEnvironmentTest, DiscoveryDirectoryIsPrivateToTheUser) {
    test::TempDir tmp;
    test::ScopedEnv tmpdir("TMPDIR", tmp.path().string());
    std::string name = "MarrowbellDiscovery-" + std::to_string(::getuid());
    fs::path folder = CommandBuilder::discoveryDirectory();
    EXPECT_EQ(folder, tmp / name);
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);

    // A folder that others may write (as one planted in a shared /tmp would be) is
    // passed over for a fresh private one.
    fs::permissions(folder, fs::perms(0777));
    fs::path fresh = CommandBuilder::discoveryDirectory();
    EXPECT_NE(fresh, folder);
    EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all, fs::perms::owner_all);
}
