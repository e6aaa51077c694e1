#include "headless_host/kit/call_text.h"

#include <cstdio>

std::string PointerText(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return text;
}

std::string OptionalText(const char* text) { return text != nullptr ? std::string(text) : std::string("(null)"); }

std::string VariantText(const NPVariant& value) {
  switch (value.type) {
    case NPVariantType_Void: return "void";
    case NPVariantType_Null: return "null";
    case NPVariantType_Bool: return value.value.boolValue ? "bool:true" : "bool:false";
    case NPVariantType_Int32: return "int32:" + std::to_string(value.value.intValue);
    case NPVariantType_Double: return "double:" + std::to_string(value.value.doubleValue);
    case NPVariantType_String:
      return "string:" + std::string(value.value.stringValue.UTF8Characters, value.value.stringValue.UTF8Length);
    case NPVariantType_Object: return "object:" + PointerText(value.value.objectValue);
  }
  return "?";
}
