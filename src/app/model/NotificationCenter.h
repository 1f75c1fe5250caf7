#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace marrowbell::app {

// The desktop's notification service, as the model needs it. Lives on the main thread;
// no call blocks it, and answers come back on it.
class NotificationCenter : public QObject {
    Q_OBJECT

public:
    // Whether the user lets this application notify. `notDetermined` until asked, on
    // platforms that ask.
    enum class Authorization { notDetermined, denied, authorized, provisional, ephemeral };

    // One notification.
    struct Content {
        QString title;         // the job's name
        QString subtitle;      // the run's outcome
        QString body;          // what the run said
        bool critical = false; // a failed run: shown with more urgency where the desktop can
        bool sound = true;     // the desktop's default sound
    };

    using QObject::QObject;

    // The current authorization, known without waiting.
    virtual Authorization authorization() const = 0;
    // Asks the user for permission to show alerts and play sounds where the platform
    // asks; `done` gets the answer on the main thread (false when the request fails).
    virtual void requestAuthorization(std::function<void(bool granted)> done) = 0;
    // Shows `content` at once under `identifier` (one per run); a failure is dropped.
    virtual void post(const QString& identifier, const Content& content) = 0;

signals:
    // `authorization()` changed (a notification service came or went).
    void authorizationChanged();
    // The user chose a notification's default action ("Show").
    void activated(const QString& identifier);
};

} // namespace marrowbell::app
