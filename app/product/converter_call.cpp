#include "app/product/converter_call.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "platform/system.h"

namespace product {
namespace {

constexpr std::size_t kStarterDigits = 8;
constexpr std::size_t kCallSize = kStarterDigits + 1 + 16;
constexpr std::size_t kRunSize = kStarterDigits + 1 + 8;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Eight hexadecimal digits of randomness, or of the clock and a count when the
// system has no random source.
std::uint32_t RandomWord() {
  static std::atomic<std::uint32_t> calls{0};
  std::uint64_t word =
      static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  word ^= word >> 32;
  word ^= static_cast<std::uint64_t>(calls.fetch_add(1)) << 24;
  try {
    std::random_device random;
    word ^= random();
  } catch (...) {
    // The time and the count alone tell the calls of a machine apart.
  }
  return static_cast<std::uint32_t>(word);
}

}  // namespace

std::string NewConverterCall() {
  // The first half stays the same for all calls of this process, so that a
  // converter can tell the calls of one run from those of another run that
  // got the same process id later.
  static const std::uint32_t run = RandomWord();
  char text[kCallSize + 1];
  std::snprintf(text, sizeof text, "%08x-%08x%08x",
                static_cast<unsigned>(platform::CurrentProcessId()), static_cast<unsigned>(run),
                static_cast<unsigned>(RandomWord()));
  return text;
}

std::string ConverterCallRun(std::string_view call) {
  if (ConverterCallStarter(call) == 0) return {};
  return std::string(call.substr(0, kRunSize));
}

std::uint32_t ConverterCallStarter(std::string_view call) {
  if (call.size() != kCallSize || call[kStarterDigits] != '-') return 0;
  std::uint32_t starter = 0;
  for (std::size_t i = 0; i < call.size(); ++i) {
    if (i == kStarterDigits) continue;
    if (!IsHexDigit(call[i])) return 0;
    if (i < kStarterDigits) {
      starter = starter * 16 +
                static_cast<std::uint32_t>(call[i] <= '9' ? call[i] - '0' : call[i] - 'a' + 10);
    }
  }
  return starter;
}

std::string ConverterMark(std::string_view call, std::string_view url) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string mark = "<?FeedPull call=\"";
  mark += call;
  mark += "\" url=\"";
  for (unsigned char c : url) {
    mark += kDigits[c >> 4];
    mark += kDigits[c & 15];
  }
  mark += "\"?>\n";
  return mark;
}

bool TakeConverterMark(std::string& text, std::string_view call, std::string_view url) {
  if (ConverterCallStarter(call) == 0) return false;
  const std::string mark = ConverterMark(call, url);
  if (text.size() < mark.size() ||
      text.compare(text.size() - mark.size(), mark.size(), mark) != 0) {
    return false;
  }
  text.resize(text.size() - mark.size());
  return true;
}

}  // namespace product
