#include "panel/JobRow.h"

#include "model/Format.h"
#include "panel/PanelLocale.h"

#include <QStringList>

namespace marrowbell::app {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString nextText(const Job& job, bool running, Instant now, const std::string& locale) {
    if (running)
        return QStringLiteral("running");
    if (!job.isPaused)
        return qs(Format::relative(job.nextRun(now), now));
    if (auto resumed = job.nextRunIfResumed(now))
        return QStringLiteral("paused · ") + qs(Format::brief(*resumed, now, locale.c_str()));
    return QStringLiteral("paused");
}

QString helpLines(const Job& job, const std::optional<RunRecord>& lastRun, Instant now,
                  const std::string& locale) {
    QStringList lines{qs(job.schedule.text()),
                      QStringLiteral("May touch: ") + qs(job.permissionTitle())};
    if (job.isPaused) {
        if (auto resumed = job.nextRunIfResumed(now))
            lines << QStringLiteral("Resuming would run it ") +
                         qs(Format::date(*resumed, "EEE d MMM, h:mm a", locale.c_str()));
    }
    if (lastRun)
        lines << QStringLiteral("Last run: ") + (lastRun->failureMessage
                                                     ? qs(*lastRun->failureMessage)
                                                     : QStringLiteral("Succeeded"));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

JobRow JobRow::make(const Job& job, bool running, const std::optional<RunRecord>& lastRun,
                    Instant now) {
    const std::string locale = icuLocaleName();
    JobRow row{.job = job};
    row.dot = StatusDot::state(running, job.isPaused, lastRun);
    row.name = qs(job.name);
    row.schedule = qs(job.schedule.compactEnglish());
    if (!job.isPaused)
        row.permissionLabel = qs(std::string(compactTitle(job.permission)));
    row.fullAccess = job.permission == PermissionLevel::fullAccess;
    row.next = nextText(job, running, now, locale);
    row.helpText = helpLines(job, lastRun, now, locale);
    return row;
}

QString JobRow::subtitle() const {
    return permissionLabel.isEmpty() ? schedule
                                     : schedule + QStringLiteral(" · ") + permissionLabel;
}

} // namespace marrowbell::app
