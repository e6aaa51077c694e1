#include "tests/support/plugin_module.h"

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

namespace {

// GetProcAddress answers a generic pointer; the export's own type is known here.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

PluginModule::PluginModule(const wchar_t* fileName) {
  module_ = LoadLibraryW((ProgramFolder() + fileName).c_str());
  if (module_ == nullptr) return;
  getEntryPoints = Export<NP_GetEntryPointsFunc>(module_, "NP_GetEntryPoints");
  initialize = Export<NP_InitializeFunc>(module_, "NP_Initialize");
  shutdown = Export<NP_ShutdownFunc>(module_, "NP_Shutdown");
  getMimeDescription = Export<NP_GetMIMEDescriptionFunc>(module_, "NP_GetMIMEDescription");
}

PluginModule::~PluginModule() {
  if (module_ != nullptr) FreeLibrary(module_);
}
