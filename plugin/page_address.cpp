#include "plugin/page_address.h"

#include "plugin/host.h"

namespace {

// No page address is longer; a longer answer is not taken as one.
const uint32_t kMaxAddressBytes = 1u << 20;

// Holds one reference the host handed over and gives it back on every path.
class HeldObject {
 public:
  explicit HeldObject(NPObject* object) : object_(object) {}
  ~HeldObject() {
    if (object_ != nullptr) NPN_ReleaseObject(object_);
  }
  HeldObject(const HeldObject&) = delete;
  HeldObject& operator=(const HeldObject&) = delete;
  NPObject* Get() const { return object_; }

 private:
  NPObject* object_;
};

// A property's value, released when it goes out of scope.
class HeldVariant {
 public:
  HeldVariant() { VOID_TO_NPVARIANT(value_); }
  ~HeldVariant() {
    if (!NPVARIANT_IS_VOID(value_)) NPN_ReleaseVariantValue(&value_);
  }
  HeldVariant(const HeldVariant&) = delete;
  HeldVariant& operator=(const HeldVariant&) = delete;
  NPVariant* Get() { return &value_; }

 private:
  NPVariant value_;
};

bool GetProperty(NPP instance, NPObject* object, const char* name, HeldVariant& value) {
  NPIdentifier identifier = NPN_GetStringIdentifier(name);
  return identifier != nullptr && NPN_GetProperty(instance, object, identifier, value.Get());
}

}  // namespace

std::optional<std::string> LearnPageAddress(NPP instance) {
  NPObject* window = nullptr;
  if (NPN_GetValue(instance, NPNVWindowNPObject, &window) != NPERR_NO_ERROR) {
    // An answer that came with an error is not trusted to carry a reference.
    return std::nullopt;
  }
  HeldObject heldWindow(window);
  if (window == nullptr) return std::nullopt;

  HeldVariant location;
  if (!GetProperty(instance, window, "location", location)) return std::nullopt;
  if (!NPVARIANT_IS_OBJECT(*location.Get()) || location.Get()->value.objectValue == nullptr) return std::nullopt;

  HeldVariant href;
  if (!GetProperty(instance, location.Get()->value.objectValue, "href", href)) return std::nullopt;
  if (!NPVARIANT_IS_STRING(*href.Get())) return std::nullopt;
  const NPString& text = href.Get()->value.stringValue;
  if (text.UTF8Characters == nullptr || text.UTF8Length == 0) return std::string();
  if (text.UTF8Length > kMaxAddressBytes) return std::nullopt;
  try {
    return std::string(text.UTF8Characters, text.UTF8Length);
  } catch (...) {
    return std::nullopt;  // out of memory: an address not learned
  }
}
