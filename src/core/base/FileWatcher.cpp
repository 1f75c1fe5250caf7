#include "base/FileWatcher.h"

#include "base/Memory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <system_error>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace marrowbell {

namespace {

// Entries appearing (a new file, a hard or symbolic link, a file renamed in), written
// and closed, renamed away, removed, or changing their permissions. Modifications
// before the final close are not followed: a file is read once its writer is done.
constexpr std::uint32_t watchedEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                        IN_DELETE | IN_ATTRIB | IN_ONLYDIR | IN_EXCL_UNLINK;

std::system_error lastError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

} // namespace

struct FileWatcher::Shared {
    struct Registration {
        int descriptor;
        Handler handler;
        bool live = true;    // guarded by `dispatching`
        bool catchUp = true; // not yet handed its first batch; guarded by `dispatching`
    };

    Shared() {
        inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify < 0)
            throw lastError("cannot follow files for changes");
        wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake < 0) {
            auto error = lastError("cannot follow files for changes");
            ::close(inotify);
            throw error;
        }
    }
    ~Shared() {
        ::close(inotify);
        ::close(wake);
    }

    void end(const std::shared_ptr<Registration>& registration) {
        // Inside a handler the batch is this thread's own: waiting would never end.
        std::unique_lock dispatch(dispatching, std::defer_lock);
        if (std::this_thread::get_id() != worker)
            dispatch.lock();
        registration->live = false;
        std::lock_guard lock(mutex);
        std::erase(registrations, registration);
        bool shared = std::any_of(registrations.begin(), registrations.end(), [&](const auto& r) {
            return r->descriptor == registration->descriptor;
        });
        if (!shared)
            ::inotify_rm_watch(inotify, registration->descriptor);
    }

    int inotify = -1;
    int wake = -1;
    std::atomic<bool> stopping{false};
    std::atomic<std::thread::id> worker{};
    std::mutex dispatching; // held while a batch is handed over
    std::mutex mutex;       // guards `registrations`
    std::vector<std::shared_ptr<Registration>> registrations;
};

FileWatcher::FileWatcher()
    : shared_(std::make_shared<Shared>()) {
    worker_ = std::thread([this] { run(); });
}

FileWatcher::~FileWatcher() {
    shared_->stopping = true;
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(shared_->wake, &one, sizeof one);
    worker_.join();
}

Subscription FileWatcher::watch(const std::filesystem::path& folder, Handler handler) {
    std::shared_ptr<Shared::Registration> registration;
    {
        // Under the lock: a folder watched twice has one descriptor, which `end` removes
        // only when no registration is left on it.
        std::lock_guard lock(shared_->mutex);
        int descriptor = ::inotify_add_watch(shared_->inotify, folder.c_str(), watchedEvents);
        if (descriptor < 0)
            throw lastError("cannot follow " + folder.string() + " for changes");
        registration = std::make_shared<Shared::Registration>(
            Shared::Registration{descriptor, std::move(handler)});
        shared_->registrations.push_back(registration);
    }
    std::uint64_t one = 1; // the worker hands the newcomer its first batch
    [[maybe_unused]] auto written = ::write(shared_->wake, &one, sizeof one);
    return Subscription([weak = std::weak_ptr<Shared>(shared_), registration] {
        if (auto shared = weak.lock())
            shared->end(registration);
    });
}

void FileWatcher::run() {
    pthread_setname_np(pthread_self(), "marrowbell.watch");
    const std::shared_ptr<Shared> shared = shared_;
    shared->worker = std::this_thread::get_id();
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        pollfd waits[2] = {{shared->inotify, POLLIN, 0}, {shared->wake, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waits[1].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto taken = ::read(shared->wake, &count, sizeof count);
            if (shared->stopping)
                return;
        }

        // Everything queued so far, gathered per watched folder.
        std::map<int, Changes> batch;
        std::map<int, std::unordered_set<std::string>> seen;
        bool overflowed = false;
        for (;;) {
            ssize_t length = ::read(shared->inotify, buffer, sizeof buffer);
            if (length <= 0)
                break; // EAGAIN: drained
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    overflowed = true;
                    continue;
                }
                if (event->len == 0)
                    continue; // about the folder itself
                std::string name(event->name);
                if (seen[event->wd].insert(name).second)
                    batch[event->wd].names.push_back(std::move(name));
            }
        }

        bool handled = false;
        {
            std::lock_guard dispatch(shared->dispatching);
            std::vector<std::shared_ptr<Shared::Registration>> registrations;
            {
                std::lock_guard lock(shared->mutex);
                registrations = shared->registrations;
            }
            for (const auto& registration : registrations) {
                Changes changes;
                if (auto found = batch.find(registration->descriptor); found != batch.end())
                    changes = found->second;
                // A newcomer first looks at everything: what changed before its watch
                // began.
                changes.overflowed = overflowed || std::exchange(registration->catchUp, false);
                if (!registration->live || (changes.names.empty() && !changes.overflowed))
                    continue;
                handled = true;
                try {
                    registration->handler(changes);
                } catch (...) {
                    // A handler's failure must not stop the following of the others.
                }
            }
        }
        // What the handlers read and parsed is not kept resident while this thread
        // sleeps (a catch-up reads every file of a folder).
        if (handled)
            memory::releaseFreed();
    }
}

} // namespace marrowbell
