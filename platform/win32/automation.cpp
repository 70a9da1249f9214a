// Automation objects on Windows, for now: no object can be created, as on a
// desktop where the component is not registered. Every creation fails with
// 429 "ActiveX component can't create object", so that a run logs the same
// failure as a Linux run without the popup component and goes on.
//
// To be replaced by COM: CLSIDFromProgID, CoCreateInstance with
// CLSCTX_LOCAL_SERVER, and IDispatch (GetIDsOfNames, Invoke with
// DISPATCH_PROPERTYPUT / DISPATCH_METHOD / DISPATCH_PROPERTYGET) for the
// calls, each bounded as the header says.
#include "platform/automation.h"

#include "platform/failure.h"

namespace platform {

std::unique_ptr<AutomationObject> AutomationObject::Create(const std::string& prog_id) {
  (void)prog_id;
  throw Failure(err::kCantCreateObject);
}

}  // namespace platform
