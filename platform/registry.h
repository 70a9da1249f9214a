// Registry reads.
//
// The calls mirror the Windows single-byte registry functions closely enough
// that the callers' two-step size query behaves the same everywhere: a query
// with a too-small (or zero) buffer answers kErrorMoreData and stores the size
// needed; a query with a big enough buffer answers kErrorSuccess.
//
// On Linux the registry is a file in the regedit export format whose path is
// $RSSNOTIFY_REGISTRY (default /etc/rssnotify/registry.reg). Key and value
// names match without regard to letter case. A missing file or key reads as a
// key that cannot be opened (kErrorFileNotFound). Text values are stored in
// the system code page (UTF-8 on Linux) with a terminating NUL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/last_error.h"

namespace platform {

using RegRoot = std::uint32_t;
inline constexpr RegRoot kHkeyClassesRoot = 0x80000000u;
inline constexpr RegRoot kHkeyCurrentUser = 0x80000001u;
inline constexpr RegRoot kHkeyLocalMachine = 0x80000002u;
inline constexpr RegRoot kHkeyUsers = 0x80000003u;

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

inline constexpr std::uint32_t kKeyQueryValue = 1;

// An open key; closing happens when the object is destroyed.
class RegKey {
 public:
  virtual ~RegKey() = default;
  // Query one value (name "" is the key's default value, "@" in the file).
  // `type` (may be null) receives the stored type; on a missing value it is
  // set to kRegNone. `data` may be null: then only the size is reported.
  // `size` (may be null only when `data` is null) holds the buffer size on
  // entry and the size the value needs on return. Returns kErrorSuccess,
  // kErrorMoreData (buffer untouched) or kErrorFileNotFound.
  virtual long QueryValue(const std::string& name, std::uint32_t* type, unsigned char* data,
                          std::uint32_t* size) = 0;
};

// Open `sub_key` below a predefined root. Returns kErrorSuccess and sets
// `key`, or an error code (kErrorFileNotFound for a missing file or key) and
// leaves `key` empty. Never throws for a missing or unreadable file.
long OpenRegKey(RegRoot root, const std::string& sub_key, std::uint32_t options,
                std::uint32_t access, std::unique_ptr<RegKey>& key);

// Convenience for callers outside the program's own registry reader (the
// Automation layer, companions): the text of a REG_SZ/REG_EXPAND_SZ value,
// or false when the key or value is missing or not text.
bool RegReadText(RegRoot root, const std::string& sub_key, const std::string& name,
                 std::string& value);

}  // namespace platform
