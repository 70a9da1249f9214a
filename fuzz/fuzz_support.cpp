#include "fuzz/fuzz_support.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace fuzz {

namespace {

struct Scratch {
  // A new folder of a random name, so that harnesses running side by side
  // never share one.
  Scratch() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto candidate =
          std::filesystem::temp_directory_path() / ("rssnotify-fuzz-" + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) {
        path = candidate.string();
        return;
      }
    }
    Fail("cannot make a scratch folder");
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

}  // namespace

const std::string& ScratchFolder() {
  static const Scratch scratch;
  return scratch.path;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("cannot write", path);
}

}  // namespace fuzz
