#include "endpoint/SecretStore.h"
#include "job/JobStore.h"
#include "settings/EndpointStore.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

#include "support/JobFixture.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace marrowbell {
namespace {

using test::LocalHttpServer;

// marrowbellctl with its own support folder and, unless asked otherwise, no
// session bus, so keys go to the file.
class EndpointsCommand : public testing::Test {
protected:
    test::ProcessResult ctl(std::vector<std::string> arguments, const std::string& input = "",
                            bool privateKeyring = false) {
        arguments.insert(arguments.begin(), test::builtBinary("marrowbellctl").string());
        std::vector<std::string> environment = {"XDG_DATA_HOME=" + dir_.path().string()};
        if (!privateKeyring)
            environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus");
        return test::runProcess(arguments, input, environment);
    }
    std::filesystem::path support() const { return dir_ / "Marrowbell"; }
    std::vector<Endpoint> stored() const {
        return EndpointStore(support() / "endpoints.json").endpoints();
    }
    SecretStore fileSecrets() const {
        return SecretStore(std::string(SecretStore::endpointService), SecretStore::Backend::file,
                           support() / "secrets.json");
    }
    Uuid add(const std::string& name, const std::string& url, const std::string& kind) {
        auto result = ctl({"endpoints", "add", name, url, kind});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        for (const Endpoint& endpoint : stored())
            if (endpoint.name == name)
                return endpoint.id;
        ADD_FAILURE() << name << " was not stored";
        return {};
    }

    test::TempDir dir_;
};

TEST_F(EndpointsCommand, AddsListsAndDeletes) {
    auto empty = ctl({"endpoints"});
    EXPECT_EQ(empty.exitStatus, 0);
    EXPECT_NE(empty.out.find("Keys are kept in the file "), std::string::npos) << empty.out;
    EXPECT_NE(empty.out.find("No endpoints."), std::string::npos);

    Uuid studio = add("Studio", "  http://127.0.0.1:1234/v1\t", "lmStudio");
    Uuid cloud = add("Cloud", "HTTPS://api.example.com/v1", "anthropicCompatible");
    auto endpoints = stored();
    ASSERT_EQ(endpoints.size(), 2u);
    EXPECT_EQ(endpoints[0].baseURL.absoluteString, "http://127.0.0.1:1234/v1");
    EXPECT_EQ(std::filesystem::status(support() / "endpoints.json").permissions() &
                  (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
    EXPECT_EQ(endpoints[1].kind, EndpointKind::anthropicCompatible);

    auto listing = ctl({"endpoints"});
    EXPECT_NE(listing.out.find("Studio \u2014 LM Studio at http://127.0.0.1:1234/v1"),
              std::string::npos)
        << listing.out;
    EXPECT_NE(listing.out.find(cloud.text()), std::string::npos);

    auto asJson = json::parse(ctl({"endpoints", "--json"}).out);
    ASSERT_TRUE(asJson);
    EXPECT_EQ((*asJson)["credentialStore"]["backend"], "file");
    EXPECT_EQ((*asJson)["endpoints"][0]["id"], studio.text());
    EXPECT_EQ((*asJson)["endpoints"][1]["hasKey"], false);

    auto deleted = ctl({"endpoints", "delete", studio.text()});
    EXPECT_EQ(deleted.exitStatus, 0) << deleted.err;
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(stored()[0].id, cloud);
}

struct BadArguments {
    std::vector<std::string> arguments;
    const char* message;
};

class EndpointsCommandUsage : public EndpointsCommand,
                              public testing::WithParamInterface<BadArguments> {};

TEST_P(EndpointsCommandUsage, IsAUsageErrorThatChangesNothing) {
    add("Studio", "http://127.0.0.1:1234/v1", "lmStudio");
    std::string before = *files::read(support() / "endpoints.json");
    auto result = ctl(GetParam().arguments);
    EXPECT_EQ(result.exitStatus, 2) << result.out;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(*files::read(support() / "endpoints.json"), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndpointsCommandUsage,
    testing::Values(
        BadArguments{{"endpoints", "add", "X", "127.0.0.1:1234/v1", "lmStudio"},
                     "Needs a full address, like http://127.0.0.1:1234/v1"},
        BadArguments{{"endpoints", "edit", "Studio", "--url", "localhost:1234/v1"},
                     "Needs a full address, like http://127.0.0.1:1234/v1"},
        BadArguments{{"endpoints", "edit", "Studio", "--kind", "vllm"}, "use one of lmStudio"},
        BadArguments{{"endpoints", "edit", "Studio", "--colour", "red"},
                     "unknown option \u201C--colour\u201D"},
        BadArguments{{"endpoints", "edit", "Nope", "--name", "X"},
                     "no endpoint is named or identified by"},
        BadArguments{{"endpoints", "add", "X", "http://h/v1", "vllm"},
                     "use one of lmStudio, ollama, openAICompatible, anthropicCompatible"},
        BadArguments{{"endpoints", "add", "Studio", "http://h/v1", "ollama"}, "already exists"},
        BadArguments{{"endpoints", "add", " ", "http://h/v1", "ollama"}, "the name is empty"},
        BadArguments{{"endpoints", "add", "X", "http://h/v1"}, "expected NAME URL KIND"},
        BadArguments{{"endpoints", "delete", "Nope"}, "no endpoint is named or identified by"},
        BadArguments{{"endpoints", "check", "Nope"}, "no endpoint is named or identified by"},
        BadArguments{{"endpoints", "set-key", "Nope"}, "no endpoint is named or identified by"},
        BadArguments{{"endpoints", "set-key", "Studio", "sk-on-the-command-line"},
                     "expected ENDPOINT"},
        BadArguments{{"endpoints", "frobnicate"}, "unknown action"},
        BadArguments{{"endpoints", "--yaml"}, "unknown option \u201C--yaml\u201D"}));

TEST_F(EndpointsCommand, EditTrimsTheAddressAndKeepsTheIdentityAndKey) {
    Uuid studio = add("Studio", "http://127.0.0.1:1234/v1", "lmStudio");
    ASSERT_EQ(ctl({"endpoints", "set-key", "Studio"}, "sk-kept\n").exitStatus, 0);
    auto result = ctl({"endpoints", "edit", "Studio", "--url", "  http://10.0.0.5:1234/v1\t",
                       "--kind", "openAICompatible"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Changed Studio (" + studio.text() +
                              "):\n"
                              "  Address: http://127.0.0.1:1234/v1 \u2192 http://10.0.0.5:1234/v1\n"
                              "  Kind:    LM Studio \u2192 OpenAI-compatible\n");
    auto endpoints = stored();
    ASSERT_EQ(endpoints.size(), 1u);
    EXPECT_EQ(endpoints[0].id, studio);
    EXPECT_EQ(endpoints[0].baseURL.absoluteString, "http://10.0.0.5:1234/v1");
    EXPECT_EQ(fileSecrets().secret(studio), "sk-kept");
}

TEST_F(EndpointsCommand, SetKeyReadsOneLineFromStandardInputAndNeverPrintsIt) {
    Uuid cloud = add("Cloud", "https://api.example.com/v1", "openAICompatible");
    auto saved = ctl({"endpoints", "set-key", "Cloud"}, "sk-very-secret\n");
    EXPECT_EQ(saved.exitStatus, 0) << saved.err;
    EXPECT_EQ(fileSecrets().secret(cloud), "sk-very-secret");
    EXPECT_EQ(saved.out.find("sk-very-secret"), std::string::npos);
    EXPECT_EQ(ctl({"endpoints", "--json"}).out.find("sk-very-secret"), std::string::npos);
    EXPECT_EQ(ctl({"endpoints"}).out.find("sk-very-secret"), std::string::npos);
    EXPECT_EQ(files::read(support() / "endpoints.json")->find("sk-very-secret"), std::string::npos);

    auto twoLines = ctl({"endpoints", "set-key", "Cloud"}, "sk-a\nsk-b\n");
    EXPECT_EQ(twoLines.exitStatus, 2);
    EXPECT_EQ(fileSecrets().secret(cloud), "sk-very-secret");

    EXPECT_EQ(ctl({"endpoints", "set-key", "Cloud"}, "\n").exitStatus, 0);
    EXPECT_EQ(fileSecrets().secret(cloud), std::nullopt);

    ctl({"endpoints", "set-key", "Cloud"}, "sk-again");
    EXPECT_EQ(fileSecrets().secret(cloud), "sk-again");
    EXPECT_EQ(ctl({"endpoints", "remove-key", "Cloud"}).exitStatus, 0);
    EXPECT_EQ(fileSecrets().secret(cloud), std::nullopt);
    EXPECT_EQ(ctl({"endpoints", "remove-key", "Cloud"}).exitStatus, 0);
}

// Ctrl-C while the key is typed (echo off) gives the terminal its echo back. A pty
// stands for the terminal; the script prints whether echo is on once the command ended.
TEST_F(EndpointsCommand, InterruptAtTheKeyPromptRestoresEcho) {
    add("Cloud", "https://api.example.com/v1", "openAICompatible");
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
    std::vector<std::string> arguments = {
        "/usr/bin/python3", "-c",      script, test::builtBinary("marrowbellctl").string(),
        "endpoints",        "set-key", "Cloud"};
    auto result = test::runProcess(arguments, "",
                                   {"XDG_DATA_HOME=" + dir_.path().string(),
                                    "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"});
    EXPECT_EQ(result.out, "echo\n") << result.err;
    EXPECT_EQ(fileSecrets().secret(stored()[0].id), std::nullopt);
}

TEST_F(EndpointsCommand, DeleteRemovesTheKeyAndNamesTheJobsThatUsedIt) {
    Uuid cloud = add("Cloud", "https://api.example.com/v1", "openAICompatible");
    ctl({"endpoints", "set-key", "Cloud"}, "sk-1\n");
    JobStore jobs(support() / "Jobs");
    Job user = test::makeJob("Nightly review");
    user.endpointID = cloud;
    jobs.save(user);
    jobs.save(test::makeJob("Unrelated"));

    auto deleted = ctl({"endpoints", "delete", "Cloud"});
    EXPECT_EQ(deleted.exitStatus, 0) << deleted.err;
    EXPECT_NE(deleted.out.find("  Nightly review\n"), std::string::npos) << deleted.out;
    EXPECT_EQ(deleted.out.find("Unrelated"), std::string::npos);
    EXPECT_EQ(fileSecrets().secret(cloud), std::nullopt);
    EXPECT_TRUE(stored().empty());
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
    EXPECT_NE(all.out.find("Live (127.0.0.1:" + std::to_string(server.port()) +
                           "): Reachable \u00B7 2 models\n  model-a\n  model-b\n"),
              std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find("Gone could not be reached \u2014 nothing is listening on that port"),
              std::string::npos)
        << all.out;

    auto one = ctl({"endpoints", "check", live.text()});
    EXPECT_EQ(one.exitStatus, 0) << one.out;
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/v1/models");
    EXPECT_EQ(requests[1].header("authorization"), "Bearer sk-live");
    EXPECT_EQ(requests[1].header("x-api-key"), "sk-live");
    EXPECT_EQ(one.out.find("sk-live"), std::string::npos);
}

TEST_F(EndpointsCommand, UsesTheSecretServiceWhenAnUnlockedKeyringRuns) {
    if (!std::getenv("MARROWBELL_ISOLATED_KEYRING"))
        GTEST_SKIP() << "no private Secret Service: run the tests through ./dev test";
    if (SecretStore::detectBackend() != SecretStore::Backend::secretService)
        GTEST_SKIP() << "no usable Secret Service on the bus";
    Uuid cloud = add("Cloud", "https://api.example.com/v1", "openAICompatible");
    auto listing = ctl({"endpoints"}, "", true);
    EXPECT_NE(listing.out.find("Keys are kept in Secret Service"), std::string::npos)
        << listing.out;
    EXPECT_EQ(ctl({"endpoints", "set-key", "Cloud"}, "sk-ring\n", true).exitStatus, 0);
    EXPECT_FALSE(std::filesystem::exists(support() / "secrets.json"));
    SecretStore keyring(std::string(SecretStore::endpointService),
                        SecretStore::Backend::secretService, support() / "secrets.json");
    EXPECT_EQ(keyring.secret(cloud), "sk-ring");
    EXPECT_EQ(ctl({"endpoints", "delete", "Cloud"}, "", true).exitStatus, 0);
    EXPECT_EQ(keyring.secret(cloud), std::nullopt);
}

} // namespace
} // namespace marrowbell
