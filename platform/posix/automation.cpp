// Placeholder until the Automation layer lands.
#include "platform/automation.h"

#include "platform/failure.h"

namespace platform {
std::string Variant::ToText() const {
  switch (type) {
    case VarType::kBstr:
      return text;
    case VarType::kEmpty:
      return {};
    case VarType::kBool:
      return number != 0 ? "True" : "False";
    default:
      return std::to_string(number);
  }
}
std::unique_ptr<AutomationObject> AutomationObject::Create(const std::string&) {
  throw Failure(err::kCantCreateObject);
}
}  // namespace platform
