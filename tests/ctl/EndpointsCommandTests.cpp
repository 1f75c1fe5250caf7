#include "ctl/SchedulerCommandSupport.h"
#include "endpoint/SecretStore.h"
#include "support/LocalHttpServer.h"

#include <cstdlib>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using test::LocalHttpServer;
using ::testing::AllOf;

// What is refused is EndpointService's (its tests); here each action's way there.
class EndpointsCommand : public test::CtlTest {
protected:
    std::vector<Endpoint> stored() const {
        return EndpointStore(support() / "endpoints.json").endpoints();
    }
    std::optional<std::string> key(const Uuid& id) const {
        return SecretStore(std::string(SecretStore::endpointService), SecretStore::Backend::file,
                           support() / "secrets.json")
            .secret(id);
    }
    Uuid add(const std::string& name, const std::string& url, const std::string& kind) {
        auto result = ctl({"endpoints", "add", name, url, kind});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        return stored().back().id;
    }
};

// The listing before and after; an edit keeps the identity; set-key reads
// one line and never prints it; delete removes the key and names the jobs that used it.
TEST_F(EndpointsCommand, AddsEditsKeysAndDeletes) {
    auto empty = ctl({"endpoints"});
    EXPECT_EQ(empty.exitStatus, 0);
    EXPECT_THAT(empty.out,
                AllOf(HasSubstr("Keys are kept in the file "), HasSubstr("No endpoints.")));

    Uuid studio = add("Studio", "  http://127.0.0.1:1234/v1\t", "lmStudio");
    Uuid cloud = add("Cloud", "HTTPS://api.example.com/v1", "anthropicCompatible");
    ASSERT_EQ(stored().size(), 2u);
    EXPECT_EQ(stored()[0].baseURL.absoluteString, "http://127.0.0.1:1234/v1");
    EXPECT_EQ(stored()[1].kind, EndpointKind::anthropicCompatible);
    EXPECT_EQ(fs::status(support() / "endpoints.json").permissions() &
                  (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
    auto listing = ctl({"endpoints"});
    EXPECT_THAT(listing.out, HasSubstr("Studio \u2014 LM Studio at http://127.0.0.1:1234/v1"));
    EXPECT_THAT(listing.out, HasSubstr(cloud.text()));
    auto json = Json::parse(ctl({"endpoints", "--json"}).out);
    EXPECT_EQ(json["credentialStore"]["backend"], "file");
    EXPECT_EQ(json["endpoints"][0]["id"], studio.text());
    EXPECT_EQ(json["endpoints"][1]["hasKey"], false);

    auto edited = ctl({"endpoints", "edit", "Studio", "--url", "  http://10.0.0.5:1234/v1\t",
                       "--kind", "openAICompatible"});
    ASSERT_EQ(edited.exitStatus, 0) << edited.err;
    EXPECT_EQ(edited.out, "Changed Studio (" + studio.text() +
                              "):\n"
                              "  Address: http://127.0.0.1:1234/v1 \u2192 http://10.0.0.5:1234/v1\n"
                              "  Kind:    LM Studio \u2192 OpenAI-compatible\n");
    EXPECT_EQ(stored()[0].id, studio);
    EXPECT_EQ(stored()[0].baseURL.absoluteString, "http://10.0.0.5:1234/v1");

    auto set = ctl({"endpoints", "set-key", "Cloud"}, "sk-very-secret\n");
    EXPECT_EQ(set.exitStatus, 0) << set.err;
    EXPECT_EQ(key(cloud), "sk-very-secret");
    for (const std::string& shown :
         {set.out, ctl({"endpoints", "--json"}).out, ctl({"endpoints"}).out,
          *files::read(support() / "endpoints.json")})
        EXPECT_THAT(shown, Not(HasSubstr("sk-very-secret")));
    EXPECT_EQ(ctl({"endpoints", "set-key", "Cloud"}, "sk-a\nsk-b\n").exitStatus, 2);
    EXPECT_EQ(key(cloud), "sk-very-secret");
    EXPECT_EQ(ctl({"endpoints", "set-key", "Cloud"}, "\n").exitStatus, 0);
    EXPECT_EQ(key(cloud), std::nullopt);
    ctl({"endpoints", "set-key", "Cloud"}, "sk-again");
    EXPECT_EQ(key(cloud), "sk-again");
    EXPECT_EQ(ctl({"endpoints", "remove-key", "Cloud"}).exitStatus, 0);
    EXPECT_EQ(key(cloud), std::nullopt);
    EXPECT_EQ(ctl({"endpoints", "remove-key", "Cloud"}).exitStatus, 0);

    ASSERT_EQ(ctl({"endpoints", "set-key", "Cloud"}, "sk-1\n").exitStatus, 0);
    Job user = job("Nightly review");
    user.endpointID = cloud;
    saved(user);
    saved(job("Unrelated"));
    auto deleted = ctl({"endpoints", "delete", "Cloud"});
    EXPECT_EQ(deleted.exitStatus, 0) << deleted.err;
    EXPECT_THAT(deleted.out, AllOf(HasSubstr("  Nightly review\n"), Not(HasSubstr("Unrelated"))));
    EXPECT_EQ(key(cloud), std::nullopt);
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(stored()[0].id, studio);
}

// Ctrl-C while the key is typed (echo off) gives the terminal its echo back. A pty
// stands for the terminal; the script prints whether echo is on once the command ended.
TEST_F(EndpointsCommand, InterruptAtTheKeyPromptRestoresEcho) {
    Uuid cloud = add("Cloud", "https://api.example.com/v1", "openAICompatible");
    const char* script = R"(
import fcntl, os, pty, subprocess, sys, termios, time
master, slave = pty.openpty()
def controlling():
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)
child = subprocess.Popen(sys.argv[1:], stdin=slave, stdout=slave, stderr=slave,
                         start_new_session=True, preexec_fn=controlling)
deadline = time.time() + 30
while termios.tcgetattr(slave)[3] & termios.ECHO and time.time() < deadline:
    time.sleep(0.02)
os.write(master, b"\x03")
child.wait(timeout=30)
print("echo" if termios.tcgetattr(slave)[3] & termios.ECHO else "no echo")
)";
    auto result = test::runProcess({"/usr/bin/python3", "-c", script,
                                    test::builtBinary("marrowbellctl").string(), "endpoints",
                                    "set-key", "Cloud"},
                                   "", env);
    EXPECT_EQ(result.out, "echo\n") << result.err;
    EXPECT_EQ(key(cloud), std::nullopt);
}

TEST_F(EndpointsCommand, CheckPrintsEachSummaryAndSendsTheStoredKey) {
    LocalHttpServer server([](const auto&) -> std::optional<std::string> {
        return LocalHttpServer::reply(200, R"({"data":[{"id":"model-a"},{"id":"model-b"}]})");
    });
    Uuid live = add("Live", server.url("/v1"), "openAICompatible");
    add("Gone", "http://127.0.0.1:" + std::to_string(LocalHttpServer::closedPort()), "ollama");
    ctl({"endpoints", "set-key", "Live"}, "sk-live\n");

    auto all = ctl({"endpoints", "check"});
    EXPECT_EQ(all.exitStatus, 1) << all.err;
    EXPECT_THAT(all.out, HasSubstr("Live (127.0.0.1:" + std::to_string(server.port()) +
                                   "): Reachable \u00B7 2 models\n  model-a\n  model-b\n"));
    EXPECT_THAT(all.out,
                HasSubstr("Gone could not be reached \u2014 nothing is listening on that port"));

    auto one = ctl({"endpoints", "check", live.text()});
    EXPECT_EQ(one.exitStatus, 0) << one.out;
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/v1/models");
    EXPECT_EQ(requests[1].header("authorization"), "Bearer sk-live");
    EXPECT_EQ(requests[1].header("x-api-key"), "sk-live");
    EXPECT_THAT(one.out, Not(HasSubstr("sk-live")));
}

TEST_F(EndpointsCommand, UsesTheSecretServiceWhenAnUnlockedKeyringRuns) {
    if (!std::getenv("MARROWBELL_ISOLATED_KEYRING"))
        GTEST_SKIP() << "no private Secret Service: run the tests through ./dev test";
    if (SecretStore::detectBackend() != SecretStore::Backend::secretService)
        GTEST_SKIP() << "no usable Secret Service on the bus";
    env = environment(); // the session bus of the test itself
    Uuid cloud = add("Cloud", "https://api.example.com/v1", "openAICompatible");
    EXPECT_THAT(ctl({"endpoints"}).out, HasSubstr("Keys are kept in Secret Service"));
    EXPECT_EQ(ctl({"endpoints", "set-key", "Cloud"}, "sk-ring\n").exitStatus, 0);
    EXPECT_FALSE(fs::exists(support() / "secrets.json"));
    SecretStore keyring(std::string(SecretStore::endpointService),
                        SecretStore::Backend::secretService, support() / "secrets.json");
    EXPECT_EQ(keyring.secret(cloud), "sk-ring");
    EXPECT_EQ(ctl({"endpoints", "delete", "Cloud"}).exitStatus, 0);
    EXPECT_EQ(keyring.secret(cloud), std::nullopt);
}

} // namespace
} // namespace marrowbell
