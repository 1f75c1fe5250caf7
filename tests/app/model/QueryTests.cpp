#include "model/ModelTestSupport.h"

#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using test::ModelHome;

// Collects the answers one receiver gets.
template <class Value> struct Answers {
    QObject receiver;
    std::vector<Value> values;
    AppModel::Answer<Value> answer() {
        return [this](Value value) { values.push_back(std::move(value)); };
    }
};

// Each answer reaches its receiver, the latest query of a receiver replacing its earlier
// ones, and none a receiver that is gone.
TEST(Queries, ResolvedCommandAnswersTheLatestQueryOfAReceiverStillThere) {
    ModelHome home;
    auto model = home.model();
    Answers<std::string> answers, other;
    model->resolvedCommand(home.job("First"), &answers.receiver, answers.answer());
    model->resolvedCommand(std::nullopt, &answers.receiver, answers.answer());
    model->resolvedCommand(home.job("No tool"), &other.receiver, other.answer());
    int answered = 0;
    {
        QObject window;
        model->availableSkills("claude", &window, [&](Discovery<Skill>) { ++answered; });
    }
    ASSERT_TRUE(test::eventually([&] { return answers.values.size() + other.values.size() == 2; }));
    test::settle(std::chrono::milliseconds(500)); // for an answer that should not come
    EXPECT_EQ(answers.values,
              std::vector<std::string>{"Enter a valid schedule to see the command."});
    EXPECT_EQ(other.values, std::vector<std::string>{"Could not resolve the Claude Code binary."});
    EXPECT_EQ(answered, 0);

    home.harness("exit 0\n");
    model->resolvedCommand(home.job("Installed"), &answers.receiver, answers.answer());
    ASSERT_TRUE(test::eventually([&] { return answers.values.size() == 2; }));
    EXPECT_EQ(answers.values.back().rfind("claude --print", 0), 0u) << answers.values.back();
}

using Models = std::vector<std::string>;

// {served, offered}: the endpoint's chat models, else the harness's own catalog.
class ModelsForTheEditor : public testing::TestWithParam<std::pair<Models, Models>> {};

TEST_P(ModelsForTheEditor, ComeFromTheEndpointWhenItServesChatModels) {
    ModelHome home;
    home.harness(
        "[ \"$1\" = --help ] && echo \"  --model <model>  Model alias ('sonnet' or 'opus')\"\n"
        "exit 0\n");
    std::string body = R"({"data":[)";
    for (const std::string& id : GetParam().first)
        body += std::string(body.back() == '[' ? "" : ",") + R"({"id":")" + id + R"("})";
    body += "]}";
    marrowbell::test::LocalHttpServer server(
        [body](const auto&) { return marrowbell::test::LocalHttpServer::reply(200, body); });
    auto model = home.model();
    const Endpoint endpoint{Uuid::random(), "Local", *Url::parse(server.url("/v1")),
                            EndpointKind::openAICompatible};
    model->endpointStore()->save(endpoint);
    model->refresh();
    EXPECT_TRUE(model->modelsComeFromEndpoint(endpoint.id));

    Answers<std::vector<ModelOption>> answers;
    model->availableModels("claude", endpoint.id, &answers.receiver, answers.answer());
    ASSERT_TRUE(test::eventually([&] { return answers.values.size() == 1; }));
    std::vector<std::string> offered;
    for (const ModelOption& option : answers.values.front())
        offered.push_back(option.id);
    EXPECT_EQ(offered, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Cases, ModelsForTheEditor,
                         testing::Values(std::pair(Models{"llama-3", "Text-Embedding-3", "qwen"},
                                                   Models{"llama-3", "qwen"}),
                                         std::pair(Models{"nomic-EMBED", "whisper-1"},
                                                   Models{"sonnet", "opus"})));

// Three lines for the settings window; a harness the manifest lacks takes any endpoint.
TEST(Queries, HarnessCapabilitiesAndCompatibility) {
    ModelHome home;
    auto model = home.model();
    using Lines = AppModel::Capabilities;
    HarnessSpec spec = model->registry()->spec("claude");
    spec.permissions.clear();
    spec.skills.reset();
    spec.localEndpoint.style = LocalEndpointStyle::Unsupported{};
    EXPECT_EQ(model->capabilities(spec), (Lines{"not supported", "not per run", "none"}));
    spec.permissions = {{PermissionLevel::readOnly, {"--read-only", "x"}}};
    spec.skills = SkillSupport{};
    spec.skills->flag = "--skill";
    spec.localEndpoint.style = LocalEndpointStyle::Environment{"BASE_URL"};
    EXPECT_EQ(model->capabilities(spec), (Lines{"--skill", "BASE_URL", "--read-only"}));
    spec.permissions = {{PermissionLevel::readOnly, {}},
                        {PermissionLevel::scopedWrite, {"--auto"}}};
    spec.skills.reset();
    spec.localEndpoint.style = LocalEndpointStyle::ModelPrefix{};
    EXPECT_EQ(model->capabilities(spec), (Lines{"not supported", "model prefix", "supported"}));

    const Endpoint ollama{Uuid::random(), "Ollama", *Url::parse("http://127.0.0.1:11434/v1"),
                          EndpointKind::ollama};
    EXPECT_TRUE(model->endpointCompatibility("no-such-harness", ollama).isCompatible());
    EXPECT_FALSE(model->modelsComeFromEndpoint(std::nullopt));
    EXPECT_FALSE(model->modelsComeFromEndpoint(Uuid::random()));
}

} // namespace
} // namespace marrowbell::app
