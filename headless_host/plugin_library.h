// One plug-in module as a Windows browser takes it up: its MIME types read
// from the version resource before it is loaded, then LoadLibrary,
// NP_GetEntryPoints and NP_Initialize with the host's function table; at the
// end NP_Shutdown and FreeLibrary.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "npapi/npfunctions.h"

// The version resource's strings of the first translation it lists; empty when it has none.
std::map<std::string, std::string> ReadVersionStrings(const std::wstring& path);

class PluginLibrary {
 public:
  static std::unique_ptr<PluginLibrary> Load(const std::wstring& path, NPNetscapeFuncs* host, std::string* error);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const std::vector<std::string>& MimeTypes() const { return mimeTypes_; }
  // The module's own spelling of a type, matched without regard to case as browsers do.
  bool Handles(const std::string& type, std::string* registered) const;
  const NPPluginFuncs& Funcs() const { return funcs_; }
  const std::string& Name() const { return name_; }
  const std::string& Description() const { return description_; }
  const std::string& Path() const { return path_; }

  // NP_Shutdown once; its result.
  NPError Shutdown();

 private:
  PluginLibrary() = default;

  HMODULE module_ = nullptr;
  NPPluginFuncs funcs_{};
  NP_ShutdownFunc shutdown_ = nullptr;
  bool initialized_ = false;
  std::vector<std::string> mimeTypes_;
  std::string name_;
  std::string description_;
  std::string path_;
};
