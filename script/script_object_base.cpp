#include "script/script_object_base.h"

#include "plugin/host.h"

namespace {

// An identifier's text, obtained from the host and freed on every path.
class IdentifierText {
 public:
  explicit IdentifierText(NPIdentifier name) : text_(NPN_UTF8FromIdentifier(name)) {}
  ~IdentifierText() {
    if (text_ != nullptr) NPN_MemFree(text_);
  }
  IdentifierText(const IdentifierText&) = delete;
  IdentifierText& operator=(const IdentifierText&) = delete;

  // Null for an integer identifier.
  const char* Get() const { return text_; }

 private:
  NPUTF8* text_;
};

}  // namespace

ScriptObjectBase::~ScriptObjectBase() {
  properties.clear();
  functions.clear();
}

bool ScriptObjectBase::HasMethod(NPIdentifier name) {
  IdentifierText text(name);
  return text.Get() != nullptr && functions.count(text.Get()) != 0;
}

bool ScriptObjectBase::Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  IdentifierText text(name);
  if (text.Get() == nullptr) return false;
  auto found = functions.find(text.Get());
  if (found == functions.end()) return false;
  return (this->*found->second.handler)(args, argCount, result);
}

bool ScriptObjectBase::InvokeDefault(const NPVariant*, uint32_t, NPVariant*) { return false; }

bool ScriptObjectBase::HasProperty(NPIdentifier name) {
  IdentifierText text(name);
  return text.Get() != nullptr && properties.count(text.Get()) != 0;
}

bool ScriptObjectBase::GetProperty(NPIdentifier name, NPVariant* result) {
  IdentifierText text(name);
  if (text.Get() == nullptr) return false;
  auto found = properties.find(text.Get());
  if (found == properties.end()) return false;
  *result = found->second.value;
  return true;
}

bool ScriptObjectBase::SetProperty(NPIdentifier name, const NPVariant* value) {
  IdentifierText text(name);
  if (text.Get() == nullptr) return false;
  auto found = properties.find(text.Get());
  if (found == properties.end()) return false;
  found->second.value = *value;
  return true;
}

bool ScriptObjectBase::RemoveProperty(NPIdentifier name) {
  IdentifierText text(name);
  return text.Get() != nullptr && properties.erase(text.Get()) != 0;
}

bool ScriptObjectBase::Enumerate(NPIdentifier**, uint32_t*) { return false; }

void ScriptObjectBase::RegisterFunctions() {}

void ScriptObjectBase::AddFunction(const FunctionItem& item) { functions.insert({item.name, item}); }
