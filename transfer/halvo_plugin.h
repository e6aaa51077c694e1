// The one concrete plug-in type, made for every "application/x-halvoplugin" element.
#pragma once

#include "plugin/plugin_base.h"

class HalvoPlugin : public PluginBase {
 public:
  HalvoPlugin();
  ~HalvoPlugin() override;

  NPError Init(NPP instance, uint16_t mode, int16_t argc, char** argn, char** argv, NPSavedData* saved) override;
};

// The registry's creation callback: a new HalvoPlugin, or null when memory runs out.
PluginBase* CreateHalvoPlugin();
