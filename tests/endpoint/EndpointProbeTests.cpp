#include "endpoint/EndpointProbe.h"

#include "support/LocalHttpServer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace marrowbell {
namespace {

using test::LocalHttpServer;
using Reply = std::optional<std::string>;

Endpoint endpointAt(const std::string& url, const std::string& name = "Studio") {
    return Endpoint{Uuid::random(), name, Url{url}, EndpointKind::openAICompatible};
}

LocalHttpServer answering(int status, const std::string& body) {
    return LocalHttpServer(
        [=](const auto&) -> Reply { return LocalHttpServer::reply(status, body); });
}

struct ReplyCase {
    const char* label;
    int status;
    const char* body;
    EndpointReachability expected;
    const char* summary;
};

class ProbeClassification : public testing::TestWithParam<ReplyCase> {};

TEST_P(ProbeClassification, ClassifiesTheServersReply) {
    const ReplyCase& c = GetParam();
    LocalHttpServer server(
        [&](const auto&) -> Reply { return LocalHttpServer::reply(c.status, c.body); });
    Endpoint endpoint = endpointAt(server.url("/v1"));
    EndpointStatus status = EndpointProbe(5).check(endpoint, std::nullopt);
    EXPECT_EQ(status.reachability, c.expected);
    EXPECT_EQ(status.summary(), c.summary);
    EXPECT_EQ(status.endpointID, endpoint.id);
    EXPECT_EQ(status.endpointName, "Studio");
    EXPECT_EQ(status.isReachable(), c.expected.state == EndpointReachability::Case::reachable);
    EXPECT_EQ(status.models(), c.expected.models);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ProbeClassification,
    testing::Values(
        ReplyCase{"TwoModels", 200, R"({"object":"list","data":[{"id":"a"},{"id":"b","x":1}]})",
                  EndpointReachability::reachable({"a", "b"}), "Reachable \u00B7 2 models"},
        ReplyCase{"OneModel", 200, R"({"data":[{"id":"qwen3"}]})",
                  EndpointReachability::reachable({"qwen3"}), "Reachable \u00B7 1 model"},
        ReplyCase{"EmptyList", 200, R"({"data":[]})", EndpointReachability::reachable({}),
                  "Reachable"},
        ReplyCase{"Junk", 200, "<html>hello</html>", EndpointReachability::reachable({}),
                  "Reachable"},
        ReplyCase{"ModelWithoutId", 200, R"({"data":[{"id":"a"},{"name":"b"}]})",
                  EndpointReachability::reachable({}), "Reachable"},
        ReplyCase{"Unauthorized", 401, "{}", EndpointReachability::unauthorized(),
                  "Reachable, but the key was refused"},
        ReplyCase{"NotFound", 404, "no",
                  EndpointReachability::unreachable("it answered with HTTP 404"),
                  "Studio could not be reached \u2014 it answered with HTTP 404"},
        ReplyCase{"Redirect", 301, "",
                  EndpointReachability::unreachable("it answered with HTTP 301"),
                  "Studio could not be reached \u2014 it answered with HTTP 301"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(EndpointProbe, SendsTheKeyInBothHeadersOnOneGetOfModels) {
    LocalHttpServer server = answering(200, R"({"data":[]})");
    EndpointProbe probe(5);
    probe.probe(endpointAt(server.url("/v1")), std::string("sk-secret"));
    probe.probe(endpointAt(server.url("/v1")), std::nullopt);
    probe.probe(endpointAt(server.url("/v1")), std::string());
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);

    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/v1/models");
    EXPECT_EQ(requests[0].header("authorization"), "Bearer sk-secret");
    EXPECT_EQ(requests[0].header("x-api-key"), "sk-secret");
    EXPECT_EQ(requests[0].headers.at("authorization").size(), 1u);

    EXPECT_EQ(requests[1].header("authorization"), std::nullopt);
    EXPECT_EQ(requests[1].header("x-api-key"), std::nullopt);

    // An empty key is still a key: both headers go out.
    EXPECT_EQ(requests[2].header("authorization"), "Bearer ");
    EXPECT_EQ(requests[2].header("x-api-key"), "");
}

TEST(EndpointProbe, RefusesAKeyThatWouldSplitTheHeaders) {
    LocalHttpServer server = answering(200, R"({"data":[]})");
    auto reachability =
        EndpointProbe(5).probe(endpointAt(server.url()), std::string("k\r\nX-Injected: 1"));
    EXPECT_EQ(reachability.state, EndpointReachability::Case::unreachable);
    EXPECT_TRUE(server.requests().empty());
}

TEST(EndpointProbe, ForbiddenIsUnauthorizedWithOrWithoutAKey) {
    LocalHttpServer server = answering(403, "");
    EndpointProbe probe(5);
    EXPECT_EQ(probe.probe(endpointAt(server.url()), std::nullopt),
              EndpointReachability::unauthorized());
    EXPECT_EQ(probe.probe(endpointAt(server.url()), std::string("k")),
              EndpointReachability::unauthorized());
}

TEST(EndpointProbe, ModelsUrlAppendsOneComponent) {
    auto models = [](const char* base) {
        return EndpointProbe::modelsURL(Url{base}).value_or("-");
    };
    EXPECT_EQ(models("http://127.0.0.1:1234/v1"), "http://127.0.0.1:1234/v1/models");
    EXPECT_EQ(models("http://127.0.0.1:1234/v1/"), "http://127.0.0.1:1234/v1/models");
    EXPECT_EQ(models("http://localhost:11434"), "http://localhost:11434/models");
    EXPECT_EQ(models("http://localhost:11434/"), "http://localhost:11434/models");
    EXPECT_EQ(models("https://api.example.com/v1?beta=1"),
              "https://api.example.com/v1/models?beta=1");
    EXPECT_EQ(models("not a url"), "-");
}

TEST(EndpointProbe, TrailingSlashDoesNotDouble) {
    LocalHttpServer server = answering(200, R"({"data":[{"id":"m"}]})");
    EXPECT_EQ(EndpointProbe(5).probe(endpointAt(server.url("/api/v1/")), std::nullopt),
              EndpointReachability::reachable({"m"}));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/api/v1/models");
}

TEST(EndpointProbe, NothingListening) {
    int port = LocalHttpServer::closedPort();
    Endpoint endpoint = endpointAt("http://127.0.0.1:" + std::to_string(port) + "/v1", "Ollama");
    EndpointStatus status = EndpointProbe(5).check(endpoint, std::nullopt);
    EXPECT_EQ(status.reachability,
              EndpointReachability::unreachable("nothing is listening on that port"));
    EXPECT_EQ(status.summary(),
              "Ollama could not be reached \u2014 nothing is listening on that port");
}

TEST(EndpointProbe, PeerThatNeverAnswersTimesOut) {
    LocalHttpServer server([](const auto&) -> Reply { return std::nullopt; });
    auto started = Instant::now();
    auto reachability = EndpointProbe(0.3).probe(endpointAt(server.url("/v1")), std::nullopt);
    EXPECT_EQ(reachability, EndpointReachability::unreachable("it did not answer in time"));
    EXPECT_LT(Instant::now() - started, 4.0);
}

TEST(EndpointProbe, BytesThatAreNotHttp) {
    LocalHttpServer server([](const auto&) -> Reply {
        return std::string("SSH-2.0-OpenSSH_9.2\r\nprotocol mismatch\n");
    });
    EXPECT_EQ(EndpointProbe(5).probe(endpointAt(server.url()), std::nullopt),
              EndpointReachability::unreachable("the server sent a reply that was not HTTP"));
}

TEST(EndpointProbe, PeerThatClosesWithoutAReplyDropsTheConnection) {
    LocalHttpServer server([](const auto&) -> Reply { return std::string(); });
    EXPECT_EQ(EndpointProbe(5).probe(endpointAt(server.url()), std::nullopt),
              EndpointReachability::unreachable("the connection dropped"));
}

TEST(EndpointProbe, AddressesItCannotRequestAreUnreachableNotThrown) {
    EndpointProbe probe(1);
    auto ftp = probe.probe(endpointAt("ftp://127.0.0.1:1/v1"), std::nullopt);
    EXPECT_EQ(ftp.state, EndpointReachability::Case::unreachable);
    EXPECT_FALSE(ftp.reason.empty());
    EXPECT_EQ(ftp.reason, [&] {
        std::string lower = ftp.reason;
        for (char& ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return lower;
    }());
    EXPECT_EQ(probe.probe(endpointAt("nonsense"), std::nullopt).state,
              EndpointReachability::Case::unreachable);
}

struct ExplainCase {
    int code;
    int systemError;
    const char* description;
    const char* reason;
};

class Explain : public testing::TestWithParam<ExplainCase> {};

TEST_P(Explain, MapsTransferErrorsToReasons) {
    const ExplainCase& c = GetParam();
    EXPECT_EQ(EndpointProbe::explain({c.code, c.systemError, c.description}), c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, Explain,
    testing::Values(
        ExplainCase{CURLE_COULDNT_CONNECT, ECONNREFUSED, "", "nothing is listening on that port"},
        ExplainCase{CURLE_COULDNT_RESOLVE_HOST, 0, "", "that host name does not resolve"},
        ExplainCase{CURLE_OPERATION_TIMEDOUT, 0, "", "it did not answer in time"},
        ExplainCase{CURLE_RECV_ERROR, ECONNRESET, "", "the connection dropped"},
        ExplainCase{CURLE_COULDNT_CONNECT, ENETUNREACH, "", "this computer is offline"},
        ExplainCase{CURLE_PEER_FAILED_VERIFICATION, 0,
                    "SSL: no alternative certificate subject name matches target host name 'x'",
                    "ssl: no alternative certificate subject name matches target host name 'x'"},
        ExplainCase{CURLE_SSL_CONNECT_ERROR, 0, "", "ssl connect error"}));

} // namespace
} // namespace marrowbell
