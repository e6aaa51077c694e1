// The built module loaded as a browser loads it: LoadLibrary from the folder the
// tests run in, its four exports by name, and the entry table it fills.
#pragma once

#include <windows.h>

#include <string>

#include "npapi/npfunctions.h"

// The folder of the running test program (the build's bin folder), with a trailing backslash.
std::wstring ProgramFolder();

class PluginModule {
 public:
  explicit PluginModule(const wchar_t* fileName = L"halvo_plugin.dll");
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  HMODULE Handle() const { return module_; }

  NP_GetEntryPointsFunc getEntryPoints = nullptr;
  NP_InitializeFunc initialize = nullptr;
  NP_ShutdownFunc shutdown = nullptr;
  NP_GetMIMEDescriptionFunc getMimeDescription = nullptr;

 private:
  HMODULE module_ = nullptr;
};
