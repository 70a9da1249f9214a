// What the converter's own files (the validator cache, a run's answers) are
// read and checked with: a strict reader of length-prefixed records and the
// checksum that covers them.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace feedpull {

// FNV-1a, 64 bits, continued from `hash`.
inline std::uint64_t Fnv1a(std::uint64_t hash, std::string_view bytes) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}
inline constexpr std::uint64_t kFnv1aStart = 0xcbf29ce484222325ULL;

// FNV-1a over eight bytes at a time (then the bytes left one by one): as
// apt to tell a torn or damaged record, several times quicker over the
// megabytes of a run's converted documents. Not the same value as Fnv1a, so
// only for records that no other version of the converter reads.
inline std::uint64_t Fnv1aWords(std::uint64_t hash, std::string_view bytes) {
  std::size_t i = 0;
  for (; bytes.size() - i >= 8; i += 8) {
    std::uint64_t word = 0;
    for (int k = 7; k >= 0; --k) word = (word << 8) | static_cast<unsigned char>(bytes[i + k]);
    hash ^= word;
    hash *= 0x100000001b3ULL;
  }
  return Fnv1a(hash, bytes.substr(i));
}

// A reader over a file's bytes that fails for good at the first surprise.
class RecordReader {
 public:
  explicit RecordReader(std::string_view bytes) : bytes_(bytes) {}

  bool Literal(std::string_view text) {
    if (bytes_.substr(pos_, text.size()) != text) return false;
    pos_ += text.size();
    return true;
  }
  // A number without sign or blank in front, followed by `end`.
  template <typename Number>
  bool NumberThen(Number& value, char end, int base = 10) {
    const char* first = bytes_.data() + pos_;
    const char* last = bytes_.data() + bytes_.size();
    if (first == last || *first == '+' || *first == ' ') return false;
    auto [ptr, ec] = std::from_chars(first, last, value, base);
    if (ec != std::errc() || ptr == last || *ptr != end) return false;
    pos_ = static_cast<std::size_t>(ptr - bytes_.data()) + 1;
    return true;
  }
  bool Text(std::size_t size, std::string& out) {
    if (bytes_.size() - pos_ < size) return false;
    out.assign(bytes_.substr(pos_, size));
    pos_ += size;
    return true;
  }
  // The next `size` bytes, in place.
  bool View(std::size_t size, std::string_view& out) {
    if (bytes_.size() - pos_ < size) return false;
    out = bytes_.substr(pos_, size);
    pos_ += size;
    return true;
  }
  bool AtEnd() const { return pos_ == bytes_.size(); }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

}  // namespace feedpull
