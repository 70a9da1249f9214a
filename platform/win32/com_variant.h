// The Automation values of the layer (platform::Variant, the types of the
// line protocol) as COM VARIANTs and back. For the Windows implementation
// only: the Automation client, the COM server of an Automation object and
// the tests' COM servers all convert through these, so that a value crosses
// COM alike whichever side sends it.
#pragma once

// clang-format off
#include <windows.h>
#include <oleauto.h>
// clang-format on

#include "platform/automation.h"

namespace platform {

// A VARIANT of one's own, cleared when it goes.
class OwnedVariant {
 public:
  OwnedVariant() { ::VariantInit(&value_); }
  ~OwnedVariant() { ::VariantClear(&value_); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
  VARIANT* get() { return &value_; }

 private:
  VARIANT value_;
};

// `from` into `to`, which must hold no value (VariantInit, VariantClear):
// VT_EMPTY, VT_I2, VT_I4, VT_BOOL (VARIANT_TRUE or VARIANT_FALSE) or VT_BSTR.
// E_OUTOFMEMORY when the text cannot be allocated; `to` is then VT_EMPTY.
HRESULT ToVariant(const Variant& from, VARIANT& to);

// What FromVariant does with a value of a type that Variant does not have.
enum class OtherTypes {
  kRefuse,    // DISP_E_TYPEMISMATCH
  kAsNumber,  // changed to a 32-bit number, as the run-time changes it
  kAsText,    // changed to its text, as Automation changes it
};

// `from` (a reference is followed) into `to`. The types of Variant come as
// they are; another type as `others` says. Null, objects and arrays have
// neither a number nor a text of their own: DISP_E_TYPEMISMATCH. A number out
// of range is DISP_E_OVERFLOW. On failure `to` is left as it was.
HRESULT FromVariant(const VARIANT& from, Variant& to, OtherTypes others);

}  // namespace platform
