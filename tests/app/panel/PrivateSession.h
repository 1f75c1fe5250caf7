#pragma once

#include <QString>

namespace marrowbell::app::test {

// Some tests need a session bus (and a display) of their own: a tray host or the
// app's single-instance name must not be seen by tests running beside them. Such a
// test calls `runInPrivateSession` first: in the test run it starts this test program
// again, for that test alone, inside `dbus-run-session` (and `xvfb-run` when
// `display`, on which it then draws), and reports whether it passed there; inside, it
// returns false and the test body runs.
// Returns true when the outer run has done the work (the body must return).
bool runInPrivateSession(bool display);

} // namespace marrowbell::app::test
