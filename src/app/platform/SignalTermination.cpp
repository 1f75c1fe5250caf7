#include "platform/SignalTermination.h"

namespace marrowbell::app {

SignalTermination::SignalTermination(QObject* parent)
    : Termination(parent) {}

SignalTermination::~SignalTermination() = default;

} // namespace marrowbell::app
