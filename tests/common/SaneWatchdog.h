#pragma once
// Runs a test case that scans from SANE's `test` backend in a child process
// under a watchdog.
//
// SANE 1.2.1's test backend reads each page on a thread of its own and stops
// that thread wherever it is when a scan ends; stopped inside the C library's
// allocator it never ends, and the backend's sane_cancel waits for it for
// ever. That defect is the backend's, not ours, so a case whose child is
// found stuck inside a call into the backend is killed and run again (with a
// line saying so); a child stuck anywhere else, or crashed, fails the case.

#include <functional>

namespace testutil {

// Runs body in a forked child and turns its outcome into this test's result.
// The child's failures are printed by the child as they happen.
void RunWatched(const std::function<void()>& body);

} // namespace testutil
