// The fixture of the Automation tests: a scripted server registered under a
// ProgID of the test's own. Portable; each system's automation_test.cpp
// defines the members, with a server of its own (a script that speaks the
// line protocol on Linux, tests/windows/com_test_server.cpp on Windows).
// Both servers behave alike:
// - they record their process id ("PID <n>") and every request, in the line
//   protocol's form ("PUT Icon I4 7", "GET Icon", "CALL Exit"), to a file
//   (the Linux script also records "CHILD <n>" for a process it starts);
// - PUT stores the value as it came, GET gives it back as it was stored and
//   fails with 438 when none was put; members are named without regard to
//   case; one whose name begins with "Unknown" is not known (438);
// - CALL Exit ends the server during the call; Quit answers, then ends it;
//   Hang never answers; Fail fails with 440 and a description of two lines
//   with non-ASCII letters; Slow answers an I4 12 after a pause.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "platform/automation.h"
#include "platform/failure.h"
#include "platform/testing/test_support.h"

namespace platform::testing {

class Automation : public ::testing::Test {
 protected:
  Automation();
  ~Automation() override;
  // Registers the scripted server under prog_id_.
  void SetUp() override;
  // Removes the registration. A server that the test left running is ended
  // when the fixture is destroyed.
  void TearDown() override;

  // A new object of the server registered under prog_id_.
  std::unique_ptr<AutomationObject> Start();
  // Registers, in place of the server, a program that does not exist.
  void RegisterMissingProgram();
  // Leaves prog_id_ registered, but without any server program.
  void RegisterWithoutServer();

  // The member name that the server records for a request naming it
  // `named`, when the object named it `first` in its first request: COM
  // knows a member by the number it gave for the first name, the line
  // protocol sends the name of each request.
  std::string RecordedName(const std::string& first, const std::string& named) const;

  // Whether the server's process has ended within `limit`, however it ended
  // (one left for its parent to reap counts as ended).
  ::testing::AssertionResult ServerEndsWithin(std::chrono::milliseconds limit);
  // Whether the server has ended as the release of its object ends it: on
  // Linux it is reaped before the release returns; on Windows COM lets go
  // of it and it ends by itself, within 10 s.
  ::testing::AssertionResult ServerEndedAtRelease();
  // Whether the client has ended the server, and the processes the server
  // started, within 10 s.
  ::testing::AssertionResult ServerEndedByTheClient();

  // The requests that the server has recorded, one line each.
  std::string Requests() const {
    std::istringstream in(ReadFile(record_));
    std::string result;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("PID ", 0) != 0 && line.rfind("CHILD ", 0) != 0) result += line + "\n";
    }
    return result;
  }

  ScratchFolder folder_;
  const std::string record_ = folder_ / "record.txt";
  std::string prog_id_;
  // The system's own part: its registration and its view of the process.
  struct Server;
  std::unique_ptr<Server> server_;
};

// Whether `call` throws exactly the Failure (number and description); used
// as EXPECT_TRUE(FailsWith(...)), so that a miss names the test's own line.
inline ::testing::AssertionResult FailsWith(const std::function<void()>& call, long number,
                                            const std::string& description) {
  try {
    call();
  } catch (const Failure& failure) {
    if (failure.number() == number && failure.description() == description) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "failure " << failure.number() << " \"" << failure.description() << "\"";
  }
  return ::testing::AssertionFailure() << "no failure";
}

// The failure of a call whose server died, closed its output or was ended.
inline ::testing::AssertionResult FailsAsTheRpcFailed(const std::function<void()>& call) {
  return FailsWith(call, -2147023170, "The remote procedure call failed.");
}

}  // namespace platform::testing
