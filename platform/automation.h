// Automation: late-bound objects of out-of-process servers, driven by member
// names at run time (property put, method call, property get).
//
// A ProgID is looked up in the registry: the default value of
// HKEY_CLASSES_ROOT\<ProgID>\LocalServer32 is the server's command line.
// Creating an object starts the server (no shell, no terminal) and talks to
// it over its standard input and output with the line protocol described in
// platform/README.md; releasing the object (destroying it) closes the pipes
// and reaps the server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Value types, numbered as the Automation VARTYPEs they stand for.
enum class VarType : int { kEmpty = 0, kI2 = 2, kI4 = 3, kBstr = 8, kBool = 11 };

struct Variant {
  VarType type = VarType::kEmpty;
  std::int32_t number = 0;  // kI2, kI4, kBool (-1 true, 0 false)
  std::string text;         // kBstr, UTF-8

  static Variant I4(std::int32_t v) { return {VarType::kI4, v, {}}; }
  static Variant I2(std::int16_t v) { return {VarType::kI2, v, {}}; }
  static Variant Bool(bool v) { return {VarType::kBool, v ? -1 : 0, {}}; }
  static Variant Bstr(std::string v) { return {VarType::kBstr, 0, std::move(v)}; }
  // The value converted to text: numbers in decimal, booleans "True"/"False",
  // empty as "".
  std::string ToText() const;
  bool operator==(const Variant&) const = default;
};

class AutomationObject {
 public:
  // Starts the server registered for `prog_id`. Throws Failure 429 "ActiveX
  // component can't create object" when the ProgID is not registered or its
  // server cannot be started.
  static std::unique_ptr<AutomationObject> Create(const std::string& prog_id);

  virtual ~AutomationObject() = default;
  // Each call throws Failure with the server's number and description when
  // the server answers with a failure (438 for a member it does not know), and
  // -2147023170 "The remote procedure call failed." when the server dies or
  // closes its output before answering.
  //
  // Every call is bounded: a call blocks until the answer comes or the call
  // bound (see SetCallBound) has passed since the call began. Past the bound
  // the server's whole process group is killed and the call throws
  // kCallTimedOut "This operation returned because the timeout period
  // expired."; every later call on the object throws the failure above.
  virtual void PutProperty(const std::string& member, const Variant& value) = 0;
  virtual Variant CallMethod(const std::string& member) = 0;
  virtual Variant GetProperty(const std::string& member) = 0;

  // Why a process that the server starts could outlive the object, for the
  // log; "" when the server and all it starts end with the object (at its
  // release, or at a call past its bound). On Linux the server is started
  // here in a group of its own: always "". On Windows COM starts it, and the
  // object then puts it in a job of this process's; this says what prevented
  // that (and the processes that the server started before are in no job).
  virtual std::string Uncontained() const { return {}; }

  // The bound of the calls made from now on, in milliseconds (at least 1).
  // It starts as kDefaultCallBoundMs, which suits property puts and gets; a
  // call that shows something to the user (a modal popup) needs its display
  // time on top.
  void SetCallBound(int milliseconds) { call_bound_ms_ = milliseconds < 1 ? 1 : milliseconds; }
  int CallBound() const { return call_bound_ms_; }

  static constexpr int kDefaultCallBoundMs = 5000;
  static constexpr long kCallTimedOut = -2147023436;  // HRESULT of ERROR_TIMEOUT

 private:
  int call_bound_ms_ = kDefaultCallBoundMs;
};

}  // namespace platform
