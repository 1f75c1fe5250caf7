#include "endpoint/EndpointProbe.h"

#include "support/LocalHttpServer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace marrowbell {
namespace {

using test::LocalHttpServer;
using Reply = std::optional<std::string>;
using R = EndpointReachability;

Endpoint endpointAt(const std::string& url) {
    return Endpoint{Uuid::random(), "Studio", Url{url}, EndpointKind::openAICompatible};
}

// The server sends `reply` (raw bytes; none: it never answers). `summary`, where given,
// is the status line shown for it (the others: the ctl check test).
struct ReplyCase {
    const char* label;
    Reply reply;
    EndpointReachability expected;
    const char* summary = nullptr;
};

class ProbeClassification : public testing::TestWithParam<ReplyCase> {};

TEST_P(ProbeClassification, ClassifiesTheServersReply) {
    const ReplyCase& c = GetParam();
    LocalHttpServer server([&](const auto&) { return c.reply; });
    Endpoint endpoint = endpointAt(server.url("/v1"));
    EndpointStatus status = EndpointProbe(c.reply ? 5 : 0.3).check(endpoint, std::nullopt);
    EXPECT_EQ(status.reachability, c.expected);
    if (c.summary) {
        EXPECT_EQ(status.summary(), c.summary);
    }
    EXPECT_EQ(status.endpointID, endpoint.id);
    EXPECT_EQ(status.models(), c.expected.models);
}

std::string ok(const char* body) {
    return LocalHttpServer::reply(200, body);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ProbeClassification,
    testing::Values(
        ReplyCase{"TwoModels", ok(R"({"object":"list","data":[{"id":"a"},{"id":"b","x":1}]})"),
                  R::reachable({"a", "b"})},
        ReplyCase{"OneModel", ok(R"({"data":[{"id":"q"}]})"), R::reachable({"q"}),
                  "Reachable \u00B7 1 model"},
        ReplyCase{"EmptyList", ok(R"({"data":[]})"), R::reachable({}), "Reachable"},
        ReplyCase{"Junk", ok("<html>hello</html>"), R::reachable({})},
        ReplyCase{"ModelWithoutId", ok(R"({"data":[{"id":"a"},{"name":"b"}]})"), R::reachable({})},
        ReplyCase{"Unauthorized", LocalHttpServer::reply(401, "{}"), R::unauthorized(),
                  "Reachable, but the key was refused"},
        ReplyCase{"Forbidden", LocalHttpServer::reply(403, ""), R::unauthorized()},
        ReplyCase{"NotFound", LocalHttpServer::reply(404, "no"),
                  R::unreachable("it answered with HTTP 404")},
        ReplyCase{"NeverAnswers", std::nullopt, R::unreachable("it did not answer in time")},
        ReplyCase{"NotHttp", std::string("SSH-2.0-OpenSSH_9.2\r\nprotocol mismatch\n"),
                  R::unreachable("the server sent a reply that was not HTTP")},
        ReplyCase{"ClosesWithoutAReply", std::string(), R::unreachable("the connection dropped")}),
    [](const auto& info) { return std::string(info.param.label); });

// The key goes out in both headers, an empty key too; a key that would split the headers
// is refused before anything is sent. The path and the key's value: the ctl check test.
TEST(EndpointProbe, SendsTheKeyInBothHeadersOnOneGetOfModels) {
    LocalHttpServer server([](const auto&) -> Reply { return ok(R"({"data":[]})"); });
    EndpointProbe probe(5);
    for (const std::optional<std::string>& key :
         {std::optional<std::string>("sk"), std::optional<std::string>(),
          std::optional<std::string>("")})
        probe.probe(endpointAt(server.url("/v1")), key);
    EXPECT_EQ(probe.probe(endpointAt(server.url()), std::string("k\r\nX-Injected: 1")).state,
              R::Case::unreachable);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].headers.at("authorization").size(), 1u);
    EXPECT_EQ(requests[1].header("authorization"), std::nullopt);
    EXPECT_EQ(requests[1].header("x-api-key"), std::nullopt);
    EXPECT_EQ(requests[2].header("authorization"), "Bearer ");
    EXPECT_EQ(requests[2].header("x-api-key"), "");
}

TEST(EndpointProbe, ModelsUrlAppendsOneComponentAndUnusableAddressesAreUnreachable) {
    auto models = [](const char* base) {
        return EndpointProbe::modelsURL(Url{base}).value_or("-");
    };
    EXPECT_EQ(models("http://127.0.0.1:1234/v1/"), "http://127.0.0.1:1234/v1/models");
    EXPECT_EQ(models("http://localhost:11434"), "http://localhost:11434/models");
    EXPECT_EQ(models("https://api.example.com/v1?beta=1"),
              "https://api.example.com/v1/models?beta=1");
    EXPECT_EQ(models("not a url"), "-");
    // Unusable addresses are unreachable, not thrown (a closed port: the ctl check test).
    for (const char* url : {"ftp://127.0.0.1:1/v1", "nonsense"})
        EXPECT_EQ(EndpointProbe(5).probe(endpointAt(url), std::nullopt).state,
                  R::Case::unreachable);
}

// The refused port and the timeout: the real sockets above and the ctl check test (a
// server closing without a reply is CURLE_GOT_NOTHING).
TEST(EndpointProbe, ExplainMapsTransferErrorsToReasons) {
    for (const auto& [code, systemError, description, reason] :
         std::initializer_list<std::tuple<int, int, const char*, const char*>>{
             {CURLE_COULDNT_RESOLVE_HOST, 0, "", "that host name does not resolve"},
             {CURLE_RECV_ERROR, ECONNRESET, "", "the connection dropped"},
             {CURLE_COULDNT_CONNECT, ENETUNREACH, "", "this computer is offline"},
             {CURLE_PEER_FAILED_VERIFICATION, 0, "SSL: no alternative name matches 'x'.\n",
              "ssl: no alternative name matches 'x'"},
             {CURLE_SSL_CONNECT_ERROR, 0, "", "ssl connect error"}})
        EXPECT_EQ(EndpointProbe::explain({code, systemError, description}), reason);
}

} // namespace
} // namespace marrowbell
