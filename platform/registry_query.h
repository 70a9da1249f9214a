// The answer of a single-byte registry query, the same on every system.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// True for the text types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ).
bool IsRegTextType(std::uint32_t type);

// Answers RegKey::QueryValue for a value of `stored_type` whose bytes, as a
// single-byte caller sees them, are `bytes`: text gets its terminating NUL
// when it lacks one (unless it holds no data at all), the two-step size
// query behaves as registry.h says, and a null `size` with a buffer is 998
// (invalid access to memory location).
long AnswerValueQuery(std::uint32_t stored_type, std::string bytes, std::uint32_t* type,
                      unsigned char* data, std::uint32_t* size);

}  // namespace platform
