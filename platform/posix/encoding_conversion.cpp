// Conversion to UTF-8 on Linux: the C library's iconv, which knows every
// encoding a feed is likely to name.
#include "platform/encoding_conversion.h"

#include <iconv.h>

#include <cerrno>

namespace platform {

bool SystemConvertToUtf8(const std::string& bytes, const std::string& from, std::string& out,
                         std::string* error) {
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (error) *error = "unknown encoding " + from;
    return false;
  }
  out.clear();
  out.reserve(bytes.size() + bytes.size() / 4);
  // iconv takes a non-const pointer but only reads through it.
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  char buffer[16384];
  bool ok = true;
  while (in_left > 0) {
    char* outp = buffer;
    std::size_t out_left = sizeof buffer;
    std::size_t result = iconv(cd, &in, &in_left, &outp, &out_left);
    out.append(buffer, sizeof buffer - out_left);
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      if (error) *error = "bytes not valid in " + from;
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  return ok;
}

}  // namespace platform
