// The module-wide registry of plug-in types by MIME type. It owns its entries,
// never the objects their callbacks create. It knows no product: a product
// built on this module declares its types with a Declaration of its own, and
// the module's name and MIME description are read from what was declared.
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

  // One plug-in type a product offers, declared by a static object of the
  // product's (made while the module loads, before any export is called).
  class Declaration {
   public:
    Declaration(const char* mimeType, const char* description, PluginBase* (*create)());
  };

  // Inserts the declared types; a type already present stays as it is.
  static void RegisterTypes();

  // A new, uninitialised object for exactly this MIME type (byte-wise, case-sensitive), or null.
  static PluginBase* CreatePlugin(const char* mimeType);

  static std::size_t TypeCount();

  // "type::description" for each declared type, joined by ';' (NP_GetMIMEDescription).
  static const char* MimeDescription();
  // The module's name and description for the browser: its first type's description.
  static const char* ModuleName();

 private:
  struct Declared {
    std::map<std::string, PluginTypeItem> types;
    std::string mimeDescription;
    std::string moduleName;
  };
  static Declared& Declarations();
  static std::map<std::string, PluginTypeItem>& Types();
};
