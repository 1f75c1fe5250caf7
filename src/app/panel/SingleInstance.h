#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace marrowbell::app {

// One app per user session: the first instance owns the name
// "app.marrowbell.Marrowbell" on the session bus; a later one asks it to show its
// panel and leaves. Without a session bus every instance counts as the first (the
// scheduler lock still lets only one of them run jobs).
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.marrowbell.Marrowbell")
public:
    static constexpr const char* serviceName = "app.marrowbell.Marrowbell";

    explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(),
                            QString service = QString::fromLatin1(serviceName),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the name; false when another instance holds it.
    bool claim();
    // Asks the instance holding the name to show its panel; whether it answered.
    bool showFirst();

public slots:
    // Called over the bus by a later instance.
    Q_SCRIPTABLE void ShowPanel();

signals:
    void showRequested();

private:
    QDBusConnection bus_;
    QString service_;
    bool claimed_ = false;
};

} // namespace marrowbell::app
