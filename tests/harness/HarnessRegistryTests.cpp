#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "harness/ShimResolver.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

HarnessSpec specNamed(const std::string& id, Strings names) {
    HarnessSpec spec;
    spec.id = id;
    spec.displayName = "Tool " + id;
    spec.executableNames = std::move(names);
    return spec;
}

HarnessRegistry registryOf(std::vector<HarnessSpec> specs, Strings folders = {},
                           std::shared_ptr<ShellPath> shell = std::make_shared<ShellPath>()) {
    return HarnessRegistry(std::move(specs), std::move(folders), {}, {}, {}, std::move(shell));
}

void executable(const fs::path& path, const std::string& body = "exit 0\n") {
    test::writeFile(path, "#!/bin/sh\n" + body, true);
}

} // namespace

TEST(SearchPathTest, ManifestFoldersComeFirstWithHomeExpandedAndRepeatsDropped) {
    test::TempDir home;
    test::ScopedEnv scoped("HOME", home.path().string());
    auto shell = std::make_shared<ShellPath>();
    HarnessRegistry registry = registryOf({}, {"~/.local/bin", "/usr/bin", "~"}, shell);
    const std::string h = home.path().string();
    EXPECT_EQ(registry.expandedSearchPaths(), (Strings{h + "/.local/bin", "/usr/bin", h}));
    shell->publish({"/opt/tool/bin", "/usr/bin", "/sbin"});
    // Copies share the cache and the shell path.
    EXPECT_EQ(HarnessRegistry(registry).expandedSearchPaths(),
              (Strings{h + "/.local/bin", "/usr/bin", h, "/opt/tool/bin", "/sbin"}));
}

TEST(ShellPathTest, TheLastPathLineWinsAndOnlyAbsoluteExistingFoldersAreUsedOnce) {
    EXPECT_EQ(ShellPath::extract("HOME=/h\nPATH=/a:/b\nX=1\nPATH=/c::/d:\n\n"),
              (Strings{"/c", "/d"}));
    EXPECT_TRUE(ShellPath::extract("HOME=/h\nMYPATH=/a\n").empty());
    EXPECT_EQ(ShellPath::extract("PATH=/only"), Strings{"/only"});
    test::TempDir dir;
    fs::create_directories(dir / "a");
    std::string a = (dir / "a").string();
    EXPECT_EQ(ShellPath::usable({"relative", a, (dir / "missing").string(), a, "/"}),
              (Strings{a, "/"}));
}

TEST(ShellPathTest, DiscoversThePathALoginShellPrints) {
    test::TempDir dir;
    fs::create_directories(dir / "first");
    fs::create_directories(dir / "second");
    executable(dir / "shell", "test \"$1 $2 $3 $4\" = \"-l -i -c /usr/bin/env\" || exit 3\n"
                              "echo PATH=" +
                                  (dir / "first").string() + "\necho banner text\n" + "echo PATH=" +
                                  (dir / "second").string() + ":relative::/nonexistent\n");
    EXPECT_EQ(ShellPath::discover(dir / "shell", 5), Strings{(dir / "second").string()});
    // No shell, or one that cannot be run, gives nothing.
    test::writeFile(dir / "plain", "echo PATH=/usr/bin\n");
    EXPECT_TRUE(ShellPath::discover(std::nullopt, 1).empty());
    EXPECT_TRUE(ShellPath::discover(dir / "plain", 1).empty());
}

TEST(ShellPathTest, AShellThatNeverExitsIsTerminatedAndChangesNothing) {
    test::TempDir dir;
    executable(dir / "shell", "echo PATH=/usr/bin\ntrap 'echo $$ > " + (dir / "ended").string() +
                                  "; exit 0' TERM\nwhile :; do sleep 0.05; done\n");
    std::vector<std::string> found = ShellPath::discover(dir / "shell", 0.5);
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(fs::exists(dir / "ended")) << "the shell was asked to terminate";
    ShellPath path({"/earlier"});
    path.publish(found);
    EXPECT_EQ(path.generation(), 0);
    EXPECT_EQ(path.paths(), Strings{"/earlier"});
    path.publish({"/usr/bin"});
    EXPECT_EQ(path.generation(), 1);
}

TEST(ResolveExecutableTest, TriesEveryNameInEveryFolderInOrderAndSkipsPlainFiles) {
    test::TempDir dir;
    HarnessRegistry registry = registryOf({specNamed("t", {"A", "B", "C"})});
    std::string x = (dir / "X").string(), y = (dir / "Y").string();
    const Strings folders{x, y};
    try {
        registry.resolveExecutable(registry.spec("t"), folders);
        FAIL() << "expected executableNotFound";
    } catch (const HarnessError& error) {
        EXPECT_EQ(std::string(error.what()), "Could not find the Tool t binary. Looked for: " + x +
                                                 "/A, " + y + "/A, " + x + "/B, " + y + "/B, " + x +
                                                 "/C, " + y + "/C.");
        EXPECT_EQ(error.kind(), HarnessError::Kind::executableNotFound);
    }
    test::writeFile(dir / "X/B", "not executable");
    executable(dir / "Y/B");
    executable(dir / "Y/C");
    EXPECT_EQ(registry.resolveExecutable(registry.spec("t"), folders), dir / "Y/B");
    EXPECT_TRUE(registry.isInstalled(registry.spec("t"), folders));
}

// An unknown id: the ctl preview test.
TEST(HarnessRegistryTest, LooksUpTheFirstSpecWithAnId) {
    HarnessRegistry registry = registryOf({specNamed("same", {"one"}), specNamed("same", {"two"})});
    EXPECT_EQ(registry.spec("same").executableNames, Strings{"one"});
}

TEST(HarnessRegistryTest, PrefersTheFirstInstalledHarnessElseTheFirstListed) {
    test::TempDir dir;
    EXPECT_EQ(registryOf({}).preferredHarnessID(), std::nullopt);
    auto specs = {specNamed("a", {"mb-absent-a"}), specNamed("b", {"mb-tool-b"})};
    EXPECT_EQ(registryOf(specs, {(dir / "bin").string()}).preferredHarnessID(), "a");
    executable(dir / "bin/mb-tool-b");
    auto installed = registryOf(specs, {(dir / "bin").string()});
    EXPECT_EQ(installed.preferredHarnessID(), "b");
    EXPECT_EQ(installed.installedSpecs().size(), 1u);
}

// The shipped list of harnesses: the ctl harnesses test.
TEST(HarnessRegistryTest, DefaultScheduleParsesOrIsNone) {
    auto schedule = [](const char* text) {
        return HarnessRegistry({}, {}, {}, {}, {text, {}}, nullptr).defaultSchedule();
    };
    EXPECT_EQ(schedule("0 9 * * 1-5"), CronExpression("0 9 * * 1-5"));
    EXPECT_FALSE(schedule(""));
    EXPECT_FALSE(schedule("61 * * * *"));
    EXPECT_EQ(HarnessRegistry::bundled().defaultSchedule()->text(), "0 9 * * 1-5");
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
    std::string tools = (dir / "tools").string();
    ShimManager manager{"/mgr/shims/", "mgr", {"which", "--exact"}};
    fs::path shim = dir / "mgr/shims/claude";

    void SetUp() override {
        executable(dir / "real/claude");
        executable(shim);
    }
    void resolverPrinting(const std::string& body) { executable(dir / "tools/mgr", body); }
    fs::path resolved(const fs::path& found, const std::string& name, Strings folders) {
        folders.push_back(tools);
        return ShimResolver::resolve(found, name, folders, {manager});
    }
};

// The found file is kept when the resolver is missing, fails or is silent.
TEST_F(ShimResolverTest, AsksTheManagerForTheRealBinary) {
    EXPECT_EQ(resolved(shim, "claude", {shim.parent_path()}), shim);
    for (std::string body : {"echo " + (dir / "real/claude").string() + "\nexit 1\n",
                             std::string("exit 0\n"), "echo " + (dir / "real/absent").string()}) {
        resolverPrinting(body);
        EXPECT_EQ(resolved(shim, "claude", {shim.parent_path()}), shim) << body;
    }
    resolverPrinting("test \"$*\" = \"which --exact claude\" || exit 1\nprintf '  %s\\n\\n' " +
                     (dir / "real/claude").string() + "\n");
    EXPECT_EQ(resolved(shim, "claude", {shim.parent_path()}), dir / "real/claude");
}

// A resolver that never exits is given up.
TEST_F(ShimResolverTest, ALinkToTheResolverIsResolvedButAnUnmanagedLinkIsNot) {
    resolverPrinting("echo " + (dir / "real/claude").string() + "\n");
    fs::create_directories(dir / "bin");
    fs::create_symlink(dir / "tools/mgr", dir / "bin/claude");
    EXPECT_EQ(resolved(dir / "bin/claude", "claude", {dir / "bin"}), dir / "real/claude");
    fs::create_symlink(dir / "real/claude", dir / "bin/pi");
    EXPECT_EQ(ShimResolver::resolve(dir / "bin/pi", "pi", {tools}, {manager}), dir / "bin/pi");
    resolverPrinting("exec sleep 30\n");
    EXPECT_EQ(ShimResolver::ask(dir / "tools/mgr", {"which", "x"}, 0.3), std::nullopt);
}

TEST(CommandBuilderEnvironmentTest, DiscoveryDirectoryIsPrivateToTheUser) {
    test::TempDir tmp;
    test::ScopedEnv tmpdir("TMPDIR", tmp.path().string());
    fs::path folder = CommandBuilder::discoveryDirectory();
    EXPECT_EQ(folder, tmp / ("MarrowbellDiscovery-" + std::to_string(::getuid())));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    // A folder that others may write (as one planted in a shared /tmp would be) is
    // passed over for a fresh private one.
    fs::permissions(folder, fs::perms(0777));
    fs::path fresh = CommandBuilder::discoveryDirectory();
    EXPECT_NE(fresh, folder);
    EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all, fs::perms::owner_all);
}
