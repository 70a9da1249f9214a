// Pieces of the file system that every system's implementation shares.
#pragma once

#include <memory>
#include <string>

#include "platform/filesystem.h"

namespace platform {

// A stream that reads the bytes of a whole file, read beforehand, as
// OpenTextFileForReading describes: UTF-16 LE after its byte-order mark,
// anything else as it is.
std::unique_ptr<TextStream> TextStreamOverBytes(std::string bytes);

}  // namespace platform
