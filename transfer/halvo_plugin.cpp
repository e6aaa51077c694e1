#include "transfer/halvo_plugin.h"

#include <new>

HalvoPlugin::HalvoPlugin() { OutputDebugStringA("NPError HalvoPlugin::HalvoPlugin(void)\n"); }

HalvoPlugin::~HalvoPlugin() { OutputDebugStringA("NPError HalvoPlugin::~HalvoPlugin(void)\n"); }

NPError HalvoPlugin::Init(NPP instance, uint16_t, int16_t, char**, char**, NPSavedData*) {
  OutputDebugStringA("NPError HalvoPlugin::Init\n");
  instance->pdata = this;
  npp = instance;
  return NPERR_NO_ERROR;
}

PluginBase* CreateHalvoPlugin() { return new (std::nothrow) HalvoPlugin(); }
