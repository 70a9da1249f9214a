// What the routines' guards need to describe a failure.
#pragma once

#include <string>

#include "platform/failure.h"

// The failure's number as decimal text.
inline std::string FailureNumber(const platform::Failure& failure) {
  return std::to_string(failure.number());
}
