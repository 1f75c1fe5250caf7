#pragma once

#include "model/AppModel.h"
#include "model/NotificationCenter.h"

#include "ctl/SchedulerCommandSupport.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTest>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace marrowbell::app::test {

using marrowbell::test::CtlHome;
using marrowbell::test::ProcessHome;
using marrowbell::test::ScopedEnv;

// Runs the main thread's events until `condition` holds, for at most `limit`.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(5);
    }
    return true;
}

// Runs the main thread's events for `period`.
inline void settle(std::chrono::milliseconds period = std::chrono::milliseconds(300)) {
    eventually([] { return false; }, period);
}

// A notification centre that answers with the authorization it is given and keeps
// what is posted.
class RecordingNotifications : public NotificationCenter {
public:
    struct Posted {
        QString identifier;
        Content content;
    };

    Authorization status = Authorization::authorized;
    bool grantOnRequest = true;
    int requests = 0;
    std::vector<Posted> posted;

    Authorization authorization() const override { return status; }
    void requestAuthorization(std::function<void(bool)> done) override {
        ++requests;
        status = grantOnRequest ? Authorization::authorized : Authorization::denied;
        done(grantOnRequest);
    }
    void post(const QString& identifier, const Content& content) override {
        posted.push_back({identifier, content});
    }
};

// A home of its own for one model, made the process's: the model reads its folders
// from the environment.
struct ModelHome : ProcessHome {

    RecordingNotifications notifications;
    Termination termination;

    AppPlatform platform() { return {&notifications, nullptr, &termination, {}}; }
    std::unique_ptr<AppModel> model() { return std::make_unique<AppModel>(platform()); }
};

} // namespace marrowbell::app::test
