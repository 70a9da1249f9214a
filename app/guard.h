// What the routines' guards need to describe a failure.
#pragma once

#include <string>

#include "app/end_application.h"
#include "platform/failure.h"

// The failure's number as decimal text.
inline std::string FailureNumber(const platform::Failure& failure) {
  return std::to_string(failure.number());
}

// For every routine's guard, called first in its catch (...): the failure
// being handled, as platform::CaughtFailure gives it. The end of the run that
// a unit test intercepts is no failure: it passes on, out of the guard, so
// that a routine that comes to end the run ends it in a test as it would in
// a run.
inline platform::Failure GuardedFailure() {
  try {
    throw;
  } catch (const EndedForTesting&) {
    throw;
  } catch (...) {
    return platform::CaughtFailure();
  }
}
