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
  for (LONG index = lower; index <= upper; ++index) {
    std::optional<std::wstring> text;
    if ((type & VT_TYPEMASK) == VT_VARIANT) {
      VARIANT element;
      VariantInit(&element);
      if (SUCCEEDED(SafeArrayGetElement(array, &index, &element)) && V_VT(&element) == VT_BSTR &&
          V_BSTR(&element) != nullptr)
        text = std::wstring(V_BSTR(&element));
      VariantClear(&element);
    } else if ((type & VT_TYPEMASK) == VT_BSTR) {
      BSTR element = nullptr;
      if (SUCCEEDED(SafeArrayGetElement(array, &index, &element)) && element != nullptr) text = std::wstring(element);
      SysFreeString(element);
    }
    strings.push_back(std::move(text));
  }
  return strings;
}
