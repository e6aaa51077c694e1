#include "plugin/plugin_base.h"

PluginBase::~PluginBase() = default;

NPError PluginBase::Init(NPP instance, uint16_t, int16_t, char**, char**, NPSavedData*) {
  npp = instance;
  return NPERR_NO_ERROR;
}

NPError PluginBase::UnInit(NPSavedData**) { return NPERR_NO_ERROR; }

NPError PluginBase::SetWindow(NPWindow* npWindow) {
  window = npWindow != nullptr ? static_cast<HWND>(npWindow->window) : nullptr;
  return NPERR_NO_ERROR;
}

NPError PluginBase::NewStream(NPMIMEType, NPStream*, NPBool, uint16_t*) { return NPERR_NO_ERROR; }

NPError PluginBase::DestroyStream(NPStream*, NPReason) { return NPERR_NO_ERROR; }

int32_t PluginBase::WriteReady(NPStream*) { return 0; }

int32_t PluginBase::Write(NPStream*, int32_t, int32_t, void*) { return 0; }

void PluginBase::StreamAsFile(NPStream*, const char*) {}

void PluginBase::Print(NPPrint*) {}

int16_t PluginBase::HandleEvent(void*) { return 0; }

void PluginBase::URLNotify(const char*, NPReason, void*) {}

NPError PluginBase::GetValue(NPPVariable, void*) { return NPERR_NO_ERROR; }

NPError PluginBase::SetValue(NPNVariable, void*) { return NPERR_NO_ERROR; }
