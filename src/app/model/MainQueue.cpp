#include "model/MainQueue.h"

namespace marrowbell::app {

std::shared_ptr<MainQueue> MainQueue::create(QObject* target) {
    return std::make_shared<MainQueue>(target);
}

void MainQueue::post(std::function<void()> call) {
    std::lock_guard lock(mutex_);
    if (target_)
        QMetaObject::invokeMethod(target_, std::move(call), Qt::QueuedConnection);
}

void MainQueue::close() {
    std::lock_guard lock(mutex_);
    target_ = nullptr;
}

} // namespace marrowbell::app
