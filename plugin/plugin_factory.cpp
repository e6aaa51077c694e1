#include "plugin/plugin_factory.h"

#include "transfer/halvo_plugin.h"

std::map<std::string, PluginFactory::PluginTypeItem>& PluginFactory::Types() {
  static std::map<std::string, PluginTypeItem> types;
  return types;
}

void PluginFactory::RegisterTypes() {
  const PluginTypeItem item{"application/x-halvoplugin", &CreateHalvoPlugin};
  Types().insert({item.mimeType, item});
}

PluginBase* PluginFactory::CreatePlugin(const char* mimeType) {
  if (mimeType == nullptr) return nullptr;
  auto found = Types().find(std::string(mimeType));
  if (found == Types().end() || found->second.create == nullptr) return nullptr;
  return found->second.create();
}

std::size_t PluginFactory::TypeCount() { return Types().size(); }
