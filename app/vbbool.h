// 16-bit booleans, as the agent's other programs use them.
#pragma once

#include <cstdint>

using VBBool = std::int16_t;
inline constexpr VBBool kTrue = -1;
inline constexpr VBBool kFalse = 0;
