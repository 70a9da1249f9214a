#include "platform/win32/com_variant.h"

#include <string>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

std::string BstrText(BSTR text) {
  return text == nullptr ? std::string() : Narrow(text, ::SysStringLen(text));
}

}  // namespace

HRESULT ToVariant(const Variant& from, VARIANT& to) {
  ::VariantInit(&to);
  switch (from.type) {
    case VarType::kEmpty:
      break;
    case VarType::kI2:
      V_VT(&to) = VT_I2;
      V_I2(&to) = static_cast<SHORT>(from.number);
      break;
    case VarType::kI4:
      V_VT(&to) = VT_I4;
      V_I4(&to) = static_cast<LONG>(from.number);
      break;
    case VarType::kBool:
      V_VT(&to) = VT_BOOL;
      V_BOOL(&to) = from.number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VarType::kBstr: {
      const std::wstring wide = Widen(from.text);
      BSTR text = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      if (text == nullptr) return E_OUTOFMEMORY;
      V_VT(&to) = VT_BSTR;
      V_BSTR(&to) = text;
      break;
    }
  }
  return S_OK;
}

HRESULT FromVariant(const VARIANT& from, Variant& to, OtherTypes others) {
  OwnedVariant direct;
  HRESULT hr = ::VariantCopyInd(direct.get(), const_cast<VARIANT*>(&from));
  if (FAILED(hr)) return hr;
  VARIANT& v = *direct.get();
  switch (V_VT(&v)) {
    case VT_EMPTY:
      to = Variant{};
      return S_OK;
    case VT_I2:
      to = Variant::I2(V_I2(&v));
      return S_OK;
    case VT_I4:
      to = Variant::I4(V_I4(&v));
      return S_OK;
    case VT_BOOL:
      to = Variant::Bool(V_BOOL(&v) != VARIANT_FALSE);
      return S_OK;
    case VT_BSTR:
      to = Variant::Bstr(BstrText(V_BSTR(&v)));
      return S_OK;
    case VT_NULL:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      // Changing an object would call its default member, in the other process.
      return DISP_E_TYPEMISMATCH;
    default:
      break;
  }
  if ((V_VT(&v) & VT_ARRAY) != 0 || others == OtherTypes::kRefuse) return DISP_E_TYPEMISMATCH;
  OwnedVariant changed;
  const VARTYPE wanted = others == OtherTypes::kAsNumber ? VT_I4 : VT_BSTR;
  hr = ::VariantChangeTypeEx(changed.get(), &v, LOCALE_INVARIANT, 0, wanted);
  if (FAILED(hr)) return hr;
  to = wanted == VT_I4 ? Variant::I4(V_I4(changed.get()))
                       : Variant::Bstr(BstrText(V_BSTR(changed.get())));
  return S_OK;
}

}  // namespace platform
