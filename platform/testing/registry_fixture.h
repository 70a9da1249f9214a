// A registry of the test's own for the registry's tests: each system's test
// file defines the members (Linux: an export file named by
// RSSNOTIFY_REGISTRY; Windows: volatile keys standing for HKEY_LOCAL_MACHINE
// and HKEY_CLASSES_ROOT), so the cases read it through registry.h alone.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/registry.h"

namespace platform::testing {

class RegistryFixture : public ::testing::Test {
 protected:
  // For the fixture's lifetime OpenRegKey reads the fixture's registry only:
  // no key of the machine or the user is read or written, and nothing stays
  // behind. The agent's key HKLM\SOFTWARE\KESTRA exists and holds no value;
  // no other key exists below HKLM or HKEY_CLASSES_ROOT.
  RegistryFixture();
  ~RegistryFixture() override;

  // Stores value `name` ("" is the key's default value) of `type` in `key`
  // below `root` (kHkeyLocalMachine or kHkeyClassesRoot), creating the key.
  // `bytes` are the data as the registry holds them: text in UTF-16 LE, with
  // a NUL only when `bytes` ends with one; numbers little-endian. The next
  // OpenRegKey sees the value.
  void Put(RegRoot root, const std::string& key, const std::string& name, std::uint32_t type,
           const std::string& bytes);
  // The same, in the agent's key.
  void Put(const std::string& name, std::uint32_t type, const std::string& bytes) {
    Put(kHkeyLocalMachine, "SOFTWARE\\KESTRA", name, type, bytes);
  }

 private:
  struct System;
  std::unique_ptr<System> system_;
};

}  // namespace platform::testing
