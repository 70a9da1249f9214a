// The program's entry and its single end routine.
#pragma once

// Runs one whole run. Returns only when the feed update hands back control
// or the last-resort guard fired.
void Main();

// Logs "MSG : Application Ended", closes the log, releases the shared objects
// and ends the process at once, from whatever depth it is called.
[[noreturn]] void EndApplication();

// Empties AppState (for tests that run several runs in one process).
void ResetAppStateForTesting();
