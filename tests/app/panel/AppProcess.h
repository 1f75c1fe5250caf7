#pragma once

#include "ctl/SchedulerCommandSupport.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace marrowbell::app::test {

// A built program started in `home`'s environment (its own support, runtime and
// configuration folders), killed at the end if still running.
class AppProcess {
public:
    AppProcess(const std::string& program, const QStringList& arguments,
               const marrowbell::test::CtlHome& home, const QProcessEnvironment& extra = {});
    ~AppProcess();

    QProcess& process() { return process_; }
    // The exit code, or -1 when it did not end within `milliseconds`.
    int wait(int milliseconds);
    // SIGTERM, then the exit code.
    int terminate(int milliseconds = 10000);

private:
    QProcess process_;
};

} // namespace marrowbell::app::test
