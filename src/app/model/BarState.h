#pragma once

namespace marrowbell::app {

// What the tray icon shows: nothing to report, a run in progress, or a job whose last
// run did not succeed.
enum class BarState { idle, running, attention };

} // namespace marrowbell::app
