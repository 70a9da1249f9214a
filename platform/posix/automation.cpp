// Automation objects on Linux: the server is a child process spoken to over
// a pair of pipes with the line protocol of automation_protocol.h.
#include "platform/automation.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <vector>

#include "platform/automation_protocol.h"
#include "platform/command_line.h"
#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/posix/child_process.h"
#include "platform/registry.h"

namespace platform {
namespace {

namespace protocol = automation_protocol;

constexpr long kRpcFailed = -2147023170;
constexpr const char* kRpcFailedText = "The remote procedure call failed.";
// How long a released server gets to end by itself before it is killed.
constexpr int kExitGraceMs = 2000;
// An answer longer than this is treated as a broken server.
constexpr std::size_t kMaxAnswerBytes = 64u << 20;

Failure RpcFailure() {
  return Failure(kRpcFailed, kRpcFailedText);
}

Failure TimeOutFailure() {
  return Failure(AutomationObject::kCallTimedOut,
                 "This operation returned because the timeout period expired.");
}

using posix::Clock;
using posix::IoOutcome;

// The server's command line as program and arguments. A quoted program runs
// to its closing quote, as registered servers under folders with blanks
// often are; otherwise the line is split as any unquoted command line.
bool SplitServerCommand(const std::string& line, std::vector<std::string>& words) {
  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string::npos) return false;
  try {
    if (line[start] == '"') {
      const std::size_t close = line.find('"', start + 1);
      if (close == std::string::npos) return false;
      const std::string program = Files().NativePath(line.substr(start + 1, close - start - 1));
      struct stat info {};
      if (::stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
      words = {program};
      for (std::string& argument : SplitArgumentText(line.substr(close + 1))) {
        words.push_back(std::move(argument));
      }
      return true;
    }
    CommandLine split = SplitCommandLine(line.substr(start));
    words = {split.program};
    for (std::string& argument : split.arguments) words.push_back(std::move(argument));
    return true;
  } catch (const Failure&) {
    return false;
  }
}

class PipeServer final : public AutomationObject {
 public:
  explicit PipeServer(posix::ChildProcess child) : child_(std::move(child)) {}

  ~PipeServer() override {
    // Its input closed, the server ends by itself, or is ended after a grace
    // time. Whatever it left running in its group goes with it; it is reaped
    // only after this, so that its group id cannot have been handed on yet.
    child_.CloseInput();
    child_.WaitUntil(Clock::now() + std::chrono::milliseconds(kExitGraceMs));
    child_.KillGroup();
    child_.Reap();
  }

  void PutProperty(const std::string& member, const Variant& value) override {
    Exchange({protocol::Request::Kind::kPut, member, value});
  }
  Variant CallMethod(const std::string& member) override {
    return Exchange({protocol::Request::Kind::kCall, member, {}});
  }
  Variant GetProperty(const std::string& member) override {
    return Exchange({protocol::Request::Kind::kGet, member, {}});
  }

 private:
  Variant Exchange(const protocol::Request& request) {
    if (broken_) throw RpcFailure();
    broken_ = true;  // until a well-formed answer arrives
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(CallBound());
    std::string line;
    IoOutcome outcome = Send(protocol::FormatRequest(request) + "\n", deadline);
    if (outcome == IoOutcome::kDone) outcome = child_.ReadLine(line, deadline, kMaxAnswerBytes);
    if (outcome == IoOutcome::kTimedOut) {
      // A server that does not answer in time is not waited for again: it
      // and everything it started go now.
      child_.KillGroup();
      throw TimeOutFailure();
    }
    if (outcome != IoOutcome::kDone) throw RpcFailure();
    const auto answer = protocol::ParseAnswer(line);
    if (!answer) throw RpcFailure();
    broken_ = false;
    if (!answer->ok) throw Failure(answer->number, answer->description);
    return answer->value;
  }

  // Writes with SIGPIPE held back, so that a server that has gone away
  // shows up as EPIPE instead of ending this process. The pipe is
  // non-blocking: a server that stops reading cannot hold the call past its
  // deadline.
  IoOutcome Send(const std::string& bytes, Clock::time_point deadline) {
    sigset_t pipe_only;
    sigset_t previous;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;

    const IoOutcome outcome = posix::WriteAll(child_.input(), bytes.data(), bytes.size(), deadline);
    const int write_error = errno;
    if (outcome == IoOutcome::kFailed && write_error == EPIPE && !was_pending) {
      // Take the SIGPIPE this write raised before the mask is restored.
      const timespec zero{0, 0};
      while (::sigtimedwait(&pipe_only, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return outcome;
  }

  posix::ChildProcess child_;
  bool broken_ = false;
};

}  // namespace

std::unique_ptr<AutomationObject> AutomationObject::Create(const std::string& prog_id) {
  std::string command_line;
  if (!RegReadText(kHkeyClassesRoot, prog_id + "\\LocalServer32", "", command_line)) {
    throw Failure(err::kCantCreateObject);
  }
  std::vector<std::string> words;
  if (!SplitServerCommand(command_line, words)) throw Failure(err::kCantCreateObject);

  posix::ChildSetup setup;
  setup.argv = std::move(words);
  setup.input = posix::Stream::kPipe;
  setup.output = posix::Stream::kPipe;
  setup.error = posix::Stream::kNull;
  posix::ChildProcess child;
  if (child.Start(setup) != 0) throw Failure(err::kCantCreateObject);
  return std::make_unique<PipeServer>(std::move(child));
}

}  // namespace platform
