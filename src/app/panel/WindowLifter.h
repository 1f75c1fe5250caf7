#pragma once

#include <functional>

class QWidget;

namespace marrowbell::app {

// Brings one of the application's own windows to the front.
namespace WindowLifter {

using Predicate = std::function<bool(const QWidget& window)>;

// Soon after the call, on the main thread: the first shown top-level window for which
// `where` holds is raised and activated; with none, nothing happens.
void bringForward(Predicate where);
// The same at once; whether a window was found.
bool bringForwardNow(const Predicate& where);

// The settings window: an object name containing "settings" in any case, or a title
// that is one of its tabs' ("General", "Endpoints", "Harnesses", "Settings").
bool isSettings(const QWidget& window);
// The job editor: titled "Scheduled Job".
bool isJobEditor(const QWidget& window);

} // namespace WindowLifter
} // namespace marrowbell::app
