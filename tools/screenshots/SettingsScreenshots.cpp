// Renders the settings window's three tabs to PNGs in the folder given as the only
// argument: a fresh home with two harnesses installed, three endpoints checked
// against servers on 127.0.0.1 and one not yet, and jobs using one of them.
#include "model/AppModel.h"
#include "platform/AutostartLoginItem.h"
#include "settings/EndpointsPane.h"
#include "settings/SettingsWindow.h"

#include "endpoint/SecretStore.h"
#include "job/JobTestSupport.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QListWidget>
#include <QLocale>
#include <QPalette>
#include <QPushButton>
#include <QStyleFactory>
#include <QTabWidget>
#include <QThread>

#include <cstdlib>
#include <iostream>

using namespace marrowbell;
using namespace marrowbell::app;

namespace {

void setEnv(const char* name, const std::filesystem::path& value) {
    setenv(name, value.c_str(), 1);
}

bool waitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 15000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return true;
}

void save(SettingsWindow& window, const std::filesystem::path& file) {
    // Layouts settle in posted events.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    window.grab().save(QString::fromStdString(file.string()));
    std::cout << file.string() << "\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: screenshots_settings FOLDER\n";
        return 2;
    }
    const std::filesystem::path out = argv[1];
    test::TempDir home;
    setEnv("HOME", home.path());
    setEnv("XDG_DATA_HOME", home / ".local/share");
    setEnv("XDG_CONFIG_HOME", home / ".config");
    std::filesystem::create_directories(home / "run");
    std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
    setEnv("XDG_RUNTIME_DIR", home / "run");
    for (const char* tool : {"claude", "codex"})
        test::writeFile(home / ".local/bin" / tool, "#!/bin/sh\nexit 0\n", true);

    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QLocale::setDefault(QLocale("en_US"));
    QApplication::setFont(QFont("DejaVu Sans", 10));

    test::LocalHttpServer studio([](const test::LocalHttpServer::Request&) {
        return test::LocalHttpServer::reply(
            200,
            R"({"data":[{"id":"qwen2.5-coder-32b"},{"id":"llama-3.3-70b"},{"id":"gpt-oss-20b"},)"
            R"({"id":"devstral-small"},{"id":"mistral-nemo"},{"id":"phi-4"}]})");
    });
    test::LocalHttpServer gateway([](const test::LocalHttpServer::Request&) {
        return test::LocalHttpServer::reply(401, "{}");
    });

    AutostartLoginItem loginItem(home / "bin/marrowbell", home / ".config");
    loginItem.setEnabled(true);
    AppPlatform platform;
    platform.loginItem = &loginItem;
    AppModel model(platform);
    if (model.startupError()) {
        std::cerr << *model.startupError() << "\n";
        return 1;
    }
    for (const Endpoint& seeded : model.endpoints())
        model.endpointStore()->remove(seeded.id);
    const Endpoint local{Uuid::random(), "LM Studio", *Url::parse(studio.url("/v1")),
                         EndpointKind::lmStudio};
    const Endpoint team{Uuid::random(), "Team gateway", *Url::parse(gateway.url("/v1")),
                        EndpointKind::openAICompatible};
    const Endpoint ollama{Uuid::random(), "Ollama",
                          *Url::parse("http://127.0.0.1:" +
                                      std::to_string(test::LocalHttpServer::closedPort()) + "/v1"),
                          EndpointKind::ollama};
    for (const Endpoint& endpoint : {local, team, ollama})
        model.endpointStore()->save(endpoint);
    SecretStore::shared().save("sk-team-0123456789", team.id);
    const char* names[] = {"Nightly review", "Dependency audit", "Docs sweep"};
    for (int i = 0; i < 3; ++i) {
        Job job = test::makeJob(names[i], "0 9 * * 1-5", Instant{800000000.0 + i});
        job.endpointID = local.id;
        model.store()->save(job);
    }
    model.updateSettings([](AppSettings& settings) {
        settings.defaultHarnessID = "claude";
        settings.defaults.timeoutSeconds = 90 * 60;
    });
    model.refresh();

    SettingsWindow window(model);
    window.setNotificationSettingsOpener([] {});
    window.resize(680, 700);
    window.show();
    save(window, out / "settings-general.png");

    EndpointsPane& endpoints = window.endpoints();
    window.tabs().setCurrentIndex(1);
    window.findChild<QPushButton*>("testAll")->click();
    if (!waitFor([&] { return !endpoints.isChecking(); }))
        std::cerr << "the endpoint checks did not finish\n";
    const Endpoint cloud{Uuid::random(), "Anthropic direct",
                         *Url::parse("https://api.anthropic.com/v1"),
                         EndpointKind::anthropicCompatible};
    model.endpointStore()->save(cloud);
    model.refresh();
    endpoints.select(local.id);
    save(window, out / "settings-endpoints.png");
    endpoints.select(team.id);
    save(window, out / "settings-endpoints-key.png");

    window.tabs().setCurrentIndex(2);
    if (!waitFor([&] { return model.harnessStatus().size() == model.registry()->specs().size(); }))
        std::cerr << "the harnesses were not resolved\n";
    QApplication::processEvents();
    save(window, out / "settings-harnesses.png");

    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x1f));
    dark.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa0));
    QApplication::setPalette(dark);
    window.tabs().setCurrentIndex(1);
    endpoints.select(local.id);
    QApplication::processEvents();
    save(window, out / "settings-endpoints-dark.png");
    return 0;
}
