// The instance base class: one virtual operation per NPAPI instance entry point,
// each with a harmless default, so a concrete type overrides only what it needs.
#pragma once

#include <windows.h>

#include "npapi/npfunctions.h"

class PluginBase {
 public:
  PluginBase() = default;
  PluginBase(const PluginBase&) = delete;
  PluginBase& operator=(const PluginBase&) = delete;
  virtual ~PluginBase();

  // A concrete type's Init must store the object in instance->pdata and record npp.
  virtual NPError Init(NPP instance, uint16_t mode, int16_t argc, char** argn, char** argv, NPSavedData* saved);
  virtual NPError UnInit(NPSavedData** save);
  virtual NPError SetWindow(NPWindow* window);
  virtual NPError NewStream(NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
  virtual NPError DestroyStream(NPStream* stream, NPReason reason);
  virtual int32_t WriteReady(NPStream* stream);
  virtual int32_t Write(NPStream* stream, int32_t offset, int32_t len, void* buffer);
  virtual void StreamAsFile(NPStream* stream, const char* fname);
  virtual void Print(NPPrint* platformPrint);
  virtual int16_t HandleEvent(void* event);
  virtual void URLNotify(const char* url, NPReason reason, void* notifyData);
  virtual NPError GetValue(NPPVariable variable, void* value);
  virtual NPError SetValue(NPNVariable variable, void* value);

  NPP npp = nullptr;
  HWND window = nullptr;
};
