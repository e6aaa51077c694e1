#include "plugin/plugin_factory.h"

PluginFactory::Declared& PluginFactory::Declarations() {
  static Declared declared;
  return declared;
}

std::map<std::string, PluginFactory::PluginTypeItem>& PluginFactory::Types() {
  static std::map<std::string, PluginTypeItem> types;
  return types;
}

PluginFactory::Declaration::Declaration(const char* mimeType, const char* description, PluginBase* (*create)()) {
  // Made while the module loads: a failure here must not end the browser, the
  // type is then simply not offered.
  try {
    Declared& declared = Declarations();
    declared.types.insert({mimeType, PluginTypeItem{mimeType, create}});
    if (!declared.mimeDescription.empty()) declared.mimeDescription += ';';
    declared.mimeDescription += std::string(mimeType) + "::" + description;
    if (declared.moduleName.empty()) declared.moduleName = description;
  } catch (...) {
  }
}

void PluginFactory::RegisterTypes() {
  for (const auto& type : Declarations().types) Types().insert(type);
}

PluginBase* PluginFactory::CreatePlugin(const char* mimeType) {
  if (mimeType == nullptr) return nullptr;
  auto found = Types().find(std::string(mimeType));
  if (found == Types().end() || found->second.create == nullptr) return nullptr;
  return found->second.create();
}

std::size_t PluginFactory::TypeCount() { return Types().size(); }

const char* PluginFactory::MimeDescription() { return Declarations().mimeDescription.c_str(); }

const char* PluginFactory::ModuleName() { return Declarations().moduleName.c_str(); }
