// Helpers for the tests of desktop notifications: a private session bus, the
// scripted notification service (tests/fake_notifications.cpp, built beside
// the tests) and capture of standard error.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/child_process.h"
#include "platform/posix/test_support.h"

namespace platform::testing {

// A child process with its standard output on a pipe; killed and reaped at
// the end.
class Child {
 public:
  explicit Child(std::vector<std::string> argv) {
    posix::ChildSetup setup;
    setup.argv = std::move(argv);
    setup.output = posix::Stream::kPipe;
    setup.error = posix::Stream::kNull;
    child_.Start(setup);
  }
  ~Child() {
    if (!child_.started()) return;
    ::kill(child_.pid(), SIGKILL);
    child_.Reap();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return child_.started(); }

  // The first line of its output, waiting at most 10 s.
  std::optional<std::string> ReadLine() {
    std::string line;
    const auto deadline = posix::Clock::now() + std::chrono::seconds(10);
    if (child_.ReadLine(line, deadline, 1 << 20) != posix::IoOutcome::kDone) return std::nullopt;
    return line;
  }

 private:
  posix::ChildProcess child_;
};

// A session bus of the test's own, without services that start on demand.
class PrivateBus {
 public:
  PrivateBus() {
    WriteFile(folder_ / "bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <type>session</type>\n"
              "  <listen>unix:path=" +
                  (folder_ / "bus") +
                  "</listen>\n"
                  "  <auth>EXTERNAL</auth>\n"
                  "  <policy context=\"default\">\n"
                  "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                  "    <allow eavesdrop=\"true\"/>\n"
                  "    <allow own=\"*\"/>\n"
                  "  </policy>\n"
                  "</busconfig>\n");
    daemon_.emplace(std::vector<std::string>{"/usr/bin/dbus-daemon",
                                             "--config-file=" + (folder_ / "bus.conf"), "--nofork",
                                             "--print-address"});
    if (auto line = daemon_->ReadLine()) address_ = *line;
  }
  // Empty when the bus did not start.
  const std::string& address() const { return address_; }

 private:
  ScratchFolder folder_;
  std::optional<Child> daemon_;
  std::string address_;
};

// The scripted notification service on `bus`, acting out `modes` (see
// tests/fake_notifications.cpp).
class FakeNotifications {
 public:
  FakeNotifications(const PrivateBus& bus, const std::string& modes,
                    const std::string& capabilities = "") {
    const std::string program = Program();
    if (!std::filesystem::exists(program)) return;
    service_.emplace(std::vector<std::string>{program, "--address", bus.address(), "--record",
                                              folder_ / "record.jsonl", "--modes", modes,
                                              "--capabilities", capabilities});
    ready_ = service_->ReadLine() == std::optional<std::string>("READY");
  }
  bool ready() const { return ready_; }
  // The recorded calls, one JSON line each.
  std::string Record() const { return ReadFile(folder_ / "record.jsonl"); }

  static std::string Program() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tests" /
            "fake_notifications")
        .string();
  }

 private:
  ScratchFolder folder_;
  std::optional<Child> service_;
  bool ready_ = false;
};

// Sets (or with nullopt removes) an environment variable for a scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const std::string& name, const std::optional<std::string>& value)
      : name_(name) {
    if (const char* old = std::getenv(name.c_str())) old_ = old;
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Standard error goes to a file while this lives; Text() reads it.
class CapturedStderr {
 public:
  CapturedStderr() {
    saved_ = ::dup(2);
    const int file = ::open((folder_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, 2);
    ::close(file);
  }
  ~CapturedStderr() { Restore(); }
  std::string Text() {
    Restore();
    return ReadFile(folder_ / "stderr");
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  ScratchFolder folder_;
  int saved_ = -1;
};

}  // namespace platform::testing
