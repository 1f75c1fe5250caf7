#pragma once

#include "model/AppModel.h"
#include "model/ModelTestSupport.h"
#include "platform/AutostartLoginItem.h"
#include "settings/FileRevealer.h"
#include "settings/SettingsWindow.h"

#include "job/JobTestSupport.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace marrowbell::app::test {

using namespace marrowbell::test;

// What "Show in Files" asked for.
class RecordingRevealer : public FileRevealer {
public:
    explicit RecordingRevealer(std::vector<std::filesystem::path>& shown)
        : shown_(shown) {}
    void reveal(const std::filesystem::path& item, const std::filesystem::path&) override {
        shown_.push_back(item);
    }

private:
    std::vector<std::filesystem::path>& shown_;
};

// A settings window on a real model in a home of its own (see ModelHome), with the
// bundled manifest.
class SettingsWindowTest : public testing::Test {
protected:
    ~SettingsWindowTest() override {
        window_.reset();
        model_.reset();
    }

    // A stand-in executable the registry finds in ~/.local/bin.
    void install(const std::string& name) {
        writeFile(home_.home() / ".local/bin" / name, "#!/bin/sh\nexit 0\n", true);
    }

    void open() {
        AppPlatform platform;
        platform.loginItem = &loginItem_;
        model_ = std::make_unique<AppModel>(platform);
        ASSERT_FALSE(model_->startupError()) << *model_->startupError();
        window_ =
            std::make_unique<SettingsWindow>(*model_, std::make_unique<RecordingRevealer>(shown_));
        window_->show();
    }

    template <class Widget> Widget& find(const char* name) const {
        auto* widget = window_->findChild<Widget*>(name);
        if (!widget)
            throw std::runtime_error(std::string("no widget named ") + name);
        return *widget;
    }
    QString text(const char* label) const { return find<QLabel>(label).text(); }

    // Chooses the entry of a picker as a person does.
    static void choose(QComboBox& picker, const QString& entry) {
        const int index = picker.findText(entry);
        ASSERT_GE(index, 0) << entry.toStdString();
        picker.setCurrentIndex(index);
        emit picker.activated(index);
    }

    static bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
        return QTest::qWaitFor(condition, milliseconds);
    }

    // The endpoint's id, saved into the store and shown by the model.
    Uuid addEndpoint(const std::string& name, const std::string& url,
                     EndpointKind kind = EndpointKind::openAICompatible) {
        Endpoint endpoint{Uuid::random(), name, *Url::parse(url), kind};
        model_->endpointStore()->save(endpoint);
        model_->refresh();
        return endpoint.id;
    }

    ModelHome home_;
    AutostartLoginItem loginItem_{home_.root / "bin/marrowbell", home_.root / "config"};
    std::vector<std::filesystem::path> shown_;
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<SettingsWindow> window_;
};

} // namespace marrowbell::app::test
