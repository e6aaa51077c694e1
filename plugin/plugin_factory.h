// The module-wide registry of plug-in types by MIME type. It owns its entries,
// never the objects their callbacks create.
#pragma once

#include <map>
#include <string>

#include "plugin/plugin_base.h"

class PluginFactory {
 public:
  struct PluginTypeItem {
    std::string mimeType;
    PluginBase* (*create)();
  };

  // Inserts the module's types; a type already present stays as it is.
  static void RegisterTypes();

  // A new, uninitialised object for exactly this MIME type (byte-wise, case-sensitive), or null.
  static PluginBase* CreatePlugin(const char* mimeType);

  static std::size_t TypeCount();

 private:
  static std::map<std::string, PluginTypeItem>& Types();
};
