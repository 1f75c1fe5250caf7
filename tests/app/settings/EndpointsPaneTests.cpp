#include "settings/EndpointsPane.h"
#include "settings/SettingsWindowFixture.h"

#include "base/Files.h"
#include "endpoint/SecretStore.h"
#include "support/LocalHttpServer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace marrowbell::app::test {
namespace {

std::string modelList(int count) {
    Json data = Json::array();
    for (int i = 1; i <= count; ++i)
        data.push_back({{"id", "m" + std::to_string(i)}});
    return Json{{"data", data}}.dump();
}

class EndpointsPaneTest : public SettingsWindowTest {
protected:
    // The window on its "Endpoints" tab, without the endpoints suggested at start.
    void open() {
        SettingsWindowTest::open();
        for (const Endpoint& suggested : model_->endpoints())
            model_->endpointStore()->remove(suggested.id);
        model_->refresh();
        window_->tabs().setCurrentWidget(&pane());
    }

    EndpointsPane& pane() const { return window_->endpoints(); }

    QListWidgetItem& row(const Uuid& id) const {
        auto& list = find<QListWidget>("endpointList");
        for (int row = 0; row < list.count(); ++row)
            if (list.item(row)->data(EndpointsPane::idRole).toString().toStdString() == id.text())
                return *list.item(row);
        throw std::runtime_error("no row for " + id.text());
    }

    // Selects the endpoint by clicking its row.
    void select(const Uuid& id) {
        find<QListWidget>("endpointList").setCurrentItem(&row(id));
        ASSERT_EQ(pane().selection(), id);
    }

    void type(const char* field, const QString& text) {
        auto& edit = find<QLineEdit>(field);
        edit.setFocus();
        edit.selectAll();
        QTest::keyClicks(&edit, text);
        QTest::keyClick(&edit, Qt::Key_Return);
    }

    std::optional<Endpoint> stored(const Uuid& id) const {
        return model_->endpointStore()->endpoint(id);
    }
};

// A refused address is left as it was and says what is missing; one taken is trimmed,
// checked and its models listed; the jobs on the endpoint are named.
TEST_F(EndpointsPaneTest, ANewAddressIsTrimmedCheckedAndItsModelsListed) {
    LocalHttpServer server(
        [](const LocalHttpServer::Request&) { return LocalHttpServer::reply(200, modelList(6)); });
    open();
    const Uuid id = addEndpoint("Local", "http://127.0.0.1:1234/v1");
    select(id);
    EXPECT_EQ(text("endpointStatus"), "not checked");
    EXPECT_FALSE(find<QLabel>("endpointModels").isVisible());
    type("endpointURL", "127.0.0.1:9000");
    EXPECT_EQ(stored(id)->baseURL.absoluteString, "http://127.0.0.1:1234/v1");
    EXPECT_EQ(text("endpointURLError"), "Needs a full address, like http://127.0.0.1:1234/v1");
    EXPECT_TRUE(find<QLabel>("endpointURLError").isVisible());

    type("endpointURL", QString::fromStdString("  " + server.url("/v1") + "\t"));
    EXPECT_EQ(stored(id)->baseURL.absoluteString, server.url("/v1"));
    EXPECT_FALSE(find<QLabel>("endpointURLError").isVisible());
    ASSERT_TRUE(waitFor([&] { return pane().statuses().count(id) == 1; }));
    EXPECT_EQ(text("endpointStatus"), "Reachable \u00B7 6 models");
    EXPECT_EQ(text("endpointModels"), "m1, m2, m3, m4, +2 more");
    EXPECT_TRUE(find<QLabel>("endpointModels").isVisible());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/v1/models");
    EXPECT_EQ(server.requests()[0].header("authorization"), std::nullopt);

    // "Used by" names every job on the endpoint.
    for (int i = 1; i <= 7; ++i) {
        Job job = makeJob("Job " + std::to_string(i), "0 9 * * *", Instant{800000000.0 + i});
        if (i != 4)
            job.endpointID = id;
        model_->store()->save(job);
    }
    model_->refresh();
    select(id);
    const std::string names = "Job 1, Job 2, Job 3, Job 5, Job 6, Job 7";
    EXPECT_EQ(text("endpointUsedBy").toStdString(), names);
    EXPECT_EQ(row(id).data(EndpointsPane::usedByRole).toString().toStdString(), names);
}

TEST_F(EndpointsPaneTest, TestAllChecksOneAfterAnotherWithoutAKey) {
    std::mutex mutex;
    std::vector<std::string> answered;
    int inFlight = 0, mostAtOnce = 0;
    auto slowly = [&](std::string name) {
        return [&, name](const LocalHttpServer::Request&) -> std::optional<std::string> {
            {
                std::lock_guard lock(mutex);
                mostAtOnce = std::max(mostAtOnce, ++inFlight);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            std::lock_guard lock(mutex);
            --inFlight;
            answered.push_back(name);
            return LocalHttpServer::reply(200, modelList(1));
        };
    };
    LocalHttpServer first(slowly("first")), second(slowly("second"));
    open();
    const Uuid a = addEndpoint("First", first.url("/v1"));
    const Uuid b = addEndpoint("Second", second.url("/v1"));
    const Uuid c = addEndpoint(
        "Nobody", "http://127.0.0.1:" + std::to_string(LocalHttpServer::closedPort()) + "/v1");
    auto& testAll = find<QPushButton>("testAll");

    testAll.click();
    EXPECT_EQ(testAll.text(), "Checking\u2026");
    EXPECT_TRUE(pane().isChecking());
    ASSERT_TRUE(waitFor([&] { return !pane().isChecking(); }));

    EXPECT_EQ(testAll.text(), "Test all");
    EXPECT_EQ(answered, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(mostAtOnce, 1);
    EXPECT_TRUE(pane().statuses().at(a).isReachable());
    EXPECT_TRUE(pane().statuses().at(b).isReachable());
    EXPECT_EQ(pane().statuses().at(c).summary(),
              "Nobody could not be reached \u2014 nothing is listening on that port");
    EXPECT_EQ(row(a).data(EndpointsPane::dotRole).toInt(), int(EndpointsPane::Dot::reachable));
    EXPECT_EQ(row(c).data(EndpointsPane::dotRole).toInt(), int(EndpointsPane::Dot::failed));
    for (const auto* server : {&first, &second})
        EXPECT_EQ(server->requests().at(0).header("authorization"), std::nullopt);
}

// Plus adds an endpoint from the template, its name saved as typed; closing the window
// stops the checks.
TEST_F(EndpointsPaneTest, PlusAddsFromTheTemplateAndClosingTheWindowStopsTheChecks) {
    LocalHttpServer silent([](const LocalHttpServer::Request&) { return std::nullopt; });
    open();
    find<QToolButton>("addEndpoint").click();
    ASSERT_EQ(model_->endpoints().size(), 1u);
    const Endpoint added = model_->endpoints().back();
    EXPECT_EQ(added.name, "New endpoint");
    EXPECT_EQ(added.baseURL.absoluteString, model_->newEndpointTemplate()->baseURL);
    EXPECT_EQ(added.kind, EndpointKind::openAICompatible);
    EXPECT_EQ(pane().selection(), added.id);
    auto& name = find<QLineEdit>("endpointName");
    name.setFocus();
    name.selectAll();
    QTest::keyClicks(&name, "Studio");
    EXPECT_EQ(stored(added.id)->name, "Studio");
    EXPECT_EQ(row(added.id).text(), "Studio");

    model_->endpointStore()->remove(added.id);
    addEndpoint("Silent", silent.url("/v1"));
    addEndpoint("Also silent", silent.url("/v2"));
    find<QPushButton>("testAll").click();
    ASSERT_TRUE(pane().isChecking());
    window_->close();
    EXPECT_FALSE(pane().isChecking());
    EXPECT_EQ(find<QPushButton>("testAll").text(), "Test all");
    QTest::qWait(300);
    EXPECT_TRUE(pane().statuses().empty());
    EXPECT_EQ(silent.requests().size(), 1u);
}

// A typed key reaches neither the clipboard nor a file; it stays while the kind hides
// it and goes with its endpoint.
TEST_F(EndpointsPaneTest, TheKeyIsKeptOnlyInTheKeyringAndGoesWithItsEndpoint) {
    if (!std::getenv("MARROWBELL_ISOLATED_KEYRING") ||
        SecretStore::shared().backend() != SecretStore::Backend::secretService)
        GTEST_SKIP() << "no private Secret Service: run the tests through ./dev test";
    open();
    const Uuid id = addEndpoint("Cloud", "https://api.example.com/v1");
    select(id);
    QGuiApplication::clipboard()->setText("before");
    type("endpointAPIKey", "sk-secret-4711");
    auto& field = find<QLineEdit>("endpointAPIKey");
    field.selectAll();
    QTest::keyClick(&field, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(SecretStore::shared().secret(id), "sk-secret-4711");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home_.root.path())) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(files::read(entry.path()).value_or("").find("sk-secret"), std::string::npos)
                << entry.path();
        }
    }

    choose(find<QComboBox>("endpointKind"), "LM Studio");
    EXPECT_EQ(stored(id)->kind, EndpointKind::lmStudio);
    EXPECT_FALSE(find<QWidget>("apiKeyRow").isVisible());
    EXPECT_EQ(SecretStore::shared().secret(id), "sk-secret-4711");

    find<QToolButton>("removeEndpoint").click();
    EXPECT_EQ(stored(id), std::nullopt);
    EXPECT_EQ(SecretStore::shared().secret(id), std::nullopt);
    EXPECT_EQ(pane().selection(), std::nullopt);
    EXPECT_TRUE(find<QLabel>("noSelection").isVisible());
}

TEST_F(SettingsWindowTest, AFailedStartShowsTheDefaultsAndChangesNothing) {
    std::filesystem::remove_all(home_.root / "data");
    writeFile(home_.root / "data", "not a folder");
    AppModel model;
    ASSERT_TRUE(model.startupError());
    SettingsWindow window(model, std::make_unique<RecordingRevealer>(shown_));
    window.show();
    window.tabs().setCurrentIndex(1);
    auto* add = window.findChild<QToolButton*>("addEndpoint");
    EXPECT_FALSE(add->isEnabled());
    add->click();
    window.findChild<QPushButton*>("testAll")->click();
    EXPECT_FALSE(window.endpoints().isChecking());
    EXPECT_TRUE(window.findChild<QLabel*>("noSelection")->isVisible());
}

} // namespace
} // namespace marrowbell::app::test
