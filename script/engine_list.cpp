#include "script/engine_list.h"

#include <oleauto.h>

std::vector<std::optional<std::wstring>> EngineList::Strings() const {
  std::vector<std::optional<std::wstring>> strings;
  const VARTYPE type = V_VT(&list_);
  if ((type & VT_ARRAY) == 0 || (type & VT_BYREF) != 0) return strings;
  SAFEARRAY* array = V_ARRAY(&list_);
  if (array == nullptr || SafeArrayGetDim(array) != 1) return strings;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return strings;
  // Elements are read where they lie: copying one would turn a null BSTR into an empty one.
  for (LONG index = lower; index <= upper; ++index) {
    std::optional<std::wstring> text;
    void* element = nullptr;
    if (SUCCEEDED(SafeArrayPtrOfIndex(array, &index, &element)) && element != nullptr) {
      if ((type & VT_TYPEMASK) == VT_VARIANT) {
        const auto* value = static_cast<const VARIANT*>(element);
        if (V_VT(value) == VT_BSTR && V_BSTR(value) != nullptr) text = std::wstring(V_BSTR(value));
      } else if ((type & VT_TYPEMASK) == VT_BSTR) {
        BSTR value = *static_cast<BSTR*>(element);
        if (value != nullptr) text = std::wstring(value);
      }
    }
    strings.push_back(std::move(text));
  }
  return strings;
}
