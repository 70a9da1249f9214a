// An Automation object served by an out-of-process COM server (Windows):
// the program is the server, COM starts it with "-Embedding" for each object
// (one object per process), and clients reach the object through IDispatch
// alone, late bound, without a type library.
//
// The object's members are carried out by a handler that takes the requests
// and gives the answers of the Automation line protocol (platform/README.md),
// so that an object answers alike over COM and over the line protocol.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation_protocol.h"

namespace platform::automation_server {

struct ServedClass {
  std::string prog_id;  // "Flarebox.Display"
  std::string clsid;    // "{...}"
  // The member names; GetIDsOfNames matches them without regard to case.
  // A method is called (CALL) when invoked as a method, a property is read
  // (GET) or written (PUT).
  std::vector<std::string> properties;
  std::vector<std::string> methods;
};

using Handler = std::function<automation_protocol::Answer(const automation_protocol::Request&)>;

// The server program's main: the command line decides.
//   /RegServer    register the class (ProgID, CLSID, LocalServer32 with this
//                 program's quoted path) for the machine when run as an
//                 administrator, else for the user; under Wine, whose COM
//                 reads the classes root alone, there as well
//   /UnregServer  remove that registration
//   -Embedding    serve one object made by `make_object`, until it is released
// Gives the exit code: 0 done, 1 failed (the reason on standard error), 2 a
// command line it does not know. The thread's message loop runs while it
// serves, so that windows of the object's work.
int Main(const ServedClass& served, const std::function<Handler()>& make_object);

}  // namespace platform::automation_server
