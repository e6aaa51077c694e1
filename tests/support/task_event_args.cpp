#include "tests/support/task_event_args.h"

#include <oleauto.h>

namespace {

VARTYPE TypeAt(unsigned index) { return task_event::kFields[index].type; }

}  // namespace

TaskEventArgs::TaskEventArgs() {
  for (unsigned i = 0; i < kCount; ++i) {
    VariantInit(&values_[i]);
    V_VT(&values_[i]) = TypeAt(i);
    if (TypeAt(i) == VT_BSTR) V_BSTR(&values_[i]) = SysAllocString(L"");
  }
}

TaskEventArgs::~TaskEventArgs() {
  for (VARIANT& value : values_) VariantClear(&value);
}

void TaskEventArgs::Set(unsigned index, const VARIANT& value) {
  if (index >= kCount) return;
  VariantClear(&values_[index]);
  // A plain copy for VARTYPEs VariantCopy refuses: an engine may send anything.
  if (VariantCopy(&values_[index], const_cast<VARIANT*>(&value)) != S_OK) values_[index] = value;
}

void TaskEventArgs::SetText(unsigned index, const wchar_t* text) {
  if (index >= kCount) return;
  VariantClear(&values_[index]);
  V_VT(&values_[index]) = VT_BSTR;
  V_BSTR(&values_[index]) = text != nullptr ? SysAllocString(text) : nullptr;
}

void TaskEventArgs::SetNumber(unsigned index, int64_t value) {
  if (index >= kCount) return;
  VARIANT& slot = values_[index];
  VariantClear(&slot);
  V_VT(&slot) = TypeAt(index);
  switch (TypeAt(index)) {
    case VT_UI1:
      V_UI1(&slot) = static_cast<BYTE>(value);
      break;
    case VT_UI4:
      V_UI4(&slot) = static_cast<ULONG>(value);
      break;
    case VT_I4:
      V_I4(&slot) = static_cast<LONG>(value);
      break;
    case VT_I8:
      V_I8(&slot) = value;
      break;
    default:
      V_VT(&slot) = VT_I8;
      V_I8(&slot) = value;
  }
}

void TaskEventArgs::SetReal(unsigned index, double value) {
  if (index >= kCount) return;
  VariantClear(&values_[index]);
  V_VT(&values_[index]) = VT_R8;
  V_R8(&values_[index]) = value;
}
