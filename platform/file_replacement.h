// What the systems' own file systems share: each replaces files in one
// routine of its own, Replace, told how far to flush, which serves every
// kind of replacement.
#pragma once

#include <functional>
#include <string>

#include "platform/filesystem.h"

namespace platform {

class ReplacingFileSystem : public FileSystem {
 public:
  void ReplaceFileAtomicallyStreamed(const std::string& path,
                                     const std::function<void(ByteSink&)>& produce) override {
    Replace(path, produce, true, true);
  }

  void ReplaceFileAtomicallyLazily(const std::string& path, const std::string& bytes,
                                   LazyFlush flush) override {
    Replace(
        path, [&](ByteSink& sink) { sink.Write(bytes.data(), bytes.size()); },
        flush == LazyFlush::kContent, false);
  }

 protected:
  // The replacement; `flush_content`: the bytes are on disk before the
  // rename; `durable`: the rename too when it returns.
  virtual void Replace(const std::string& path, const std::function<void(ByteSink&)>& produce,
                       bool flush_content, bool durable) = 0;
};

}  // namespace platform
