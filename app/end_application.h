// The end of a run: the single end routine, and the seam through which unit
// tests keep their process.
#pragma once

// Logs "MSG : Application Ended", closes the log, releases the shared objects
// and ends the process at once, from whatever depth it is called.
[[noreturn]] void EndApplication();

// Ends the process at once and without a word (status 0): for the ends before
// the run has a log of its own.
[[noreturn]] void EndProcess();

// What the two ends above throw, after their clean-up, instead of ending the
// process while a unit test intercepts them (see InterceptedEnd in
// app/test_support.h). The routines' guards let it pass (see
// GuardedFailure in app/guard.h), so that the test sees the run end where it
// would have ended.
// Returns whether the ends were intercepted before.
struct EndedForTesting {};
bool InterceptEndForTesting(bool intercept);
