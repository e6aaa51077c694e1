#include "script/argument_check.h"

#include <cstring>

#include "script/conversions.h"

bool ArgumentsMatch(const NPVariant* args, uint32_t argCount, std::initializer_list<Argument> rules) {
  if (argCount != rules.size() || (argCount != 0 && args == nullptr)) return false;
  const NPVariant* arg = args;
  for (Argument rule : rules) {
    switch (rule) {
      case Argument::String:
        if (arg->type != NPVariantType_String) return false;
        break;
      case Argument::Number:
        if (arg->type != NPVariantType_Double) return false;
        break;
      case Argument::Object:
        if (arg->type != NPVariantType_Object || arg->value.objectValue == nullptr) return false;
        break;
      case Argument::Any:
        break;
    }
    ++arg;
  }
  return true;
}

double ValueAsDouble(const NPVariant& value) {
  double number;
  std::memcpy(&number, &value.value, sizeof number);
  return number;
}

UniqueBstr Utf8Bstr(const NPVariant& value) {
  std::string text = NPStringToString(value.value.stringValue);
  return WideToBstr(Utf8ToWide(text.c_str()).get());
}

UniqueBstr AnsiBstr(const NPVariant& value) {
  std::string text = NPStringToString(value.value.stringValue);
  return AnsiToBstr(text.c_str());
}
