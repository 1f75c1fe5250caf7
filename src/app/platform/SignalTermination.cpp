#include "platform/SignalTermination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace marrowbell::app {

namespace {

constexpr std::array<int, 3> stopSignals{SIGTERM, SIGINT, SIGHUP};

// The handler's only way out: a byte on a pipe, which the main thread's event loop reads.
int wakeWrite = -1;

void onStopSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] ssize_t written = ::write(wakeWrite, &byte, 1);
    errno = saved;
}

} // namespace

SignalTermination::SignalTermination(QObject* parent)
    : Termination(parent) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        readFd_ = fds[0];
        wakeWrite = fds[1];
        notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            char bytes[16];
            while (::read(readFd_, bytes, sizeof bytes) > 0) {
            }
            terminate();
            QCoreApplication::quit();
        });
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int number : stopSignals)
            ::sigaction(number, &action, nullptr);
    }
    if (auto* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &SignalTermination::terminate);
}

SignalTermination::~SignalTermination() {
    if (!notifier_)
        return;
    for (int number : stopSignals)
        ::signal(number, SIG_DFL);
    ::close(std::exchange(wakeWrite, -1));
    ::close(readFd_);
}

void SignalTermination::terminate() {
    if (emitted_)
        return;
    emitted_ = true;
    emit willTerminate();
}

} // namespace marrowbell::app
