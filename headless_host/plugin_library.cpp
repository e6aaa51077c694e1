#include "headless_host/plugin_library.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr, nullptr);
  return result;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::map<std::string, std::string> ReadVersionStrings(const std::wstring& path) {
  std::map<std::string, std::string> strings;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return strings;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return strings;
  struct Translation {
    WORD language;
    WORD codePage;
  }* translations = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                      &length) ||
      length < sizeof(Translation))
    return strings;
  static const wchar_t* const keys[] = {L"MIMEType",    L"FileExtents",  L"FileOpenName", L"FileDescription",
                                        L"ProductName", L"FileVersion",  L"OriginalFilename"};
  for (const wchar_t* key : keys) {
    wchar_t query[96];
    std::swprintf(query, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language, translations[0].codePage,
                  key);
    wchar_t* value = nullptr;
    UINT valueLength = 0;
    if (VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&value), &valueLength) && value != nullptr)
      strings[Narrow(key)] = Narrow(std::wstring(value));
  }
  return strings;
}

std::unique_ptr<PluginLibrary> PluginLibrary::Load(const std::wstring& path, NPNetscapeFuncs* host,
                                                   std::string* error) {
  std::unique_ptr<PluginLibrary> library(new PluginLibrary());
  library->path_ = Narrow(path);
  std::map<std::string, std::string> strings = ReadVersionStrings(path);
  std::string types = strings["MIMEType"];
  std::size_t start = 0;
  while (start <= types.size()) {
    std::size_t end = types.find('|', start);
    if (end == std::string::npos) end = types.size();
    std::string type = Trim(types.substr(start, end - start));
    if (!type.empty()) library->mimeTypes_.push_back(type);
    start = end + 1;
  }
  if (library->mimeTypes_.empty()) {
    *error = "no MIMEType in the version resource";
    return nullptr;
  }
  library->name_ = strings["ProductName"];
  library->description_ = strings["FileDescription"];

  library->module_ = LoadLibraryW(path.c_str());
  if (library->module_ == nullptr) {
    *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
  auto getEntryPoints = Export<NP_GetEntryPointsFunc>(library->module_, "NP_GetEntryPoints");
  auto initialize = Export<NP_InitializeFunc>(library->module_, "NP_Initialize");
  library->shutdown_ = Export<NP_ShutdownFunc>(library->module_, "NP_Shutdown");
  if (getEntryPoints == nullptr || initialize == nullptr || library->shutdown_ == nullptr) {
    *error = "the module lacks NP_GetEntryPoints, NP_Initialize or NP_Shutdown";
    return nullptr;
  }
  library->funcs_.size = sizeof(NPPluginFuncs);
  NPError result = getEntryPoints(&library->funcs_);
  if (result != NPERR_NO_ERROR) {
    *error = "NP_GetEntryPoints answered " + std::to_string(result);
    return nullptr;
  }
  result = initialize(host);
  if (result != NPERR_NO_ERROR) {
    *error = "NP_Initialize answered " + std::to_string(result);
    return nullptr;
  }
  library->initialized_ = true;
  return library;
}

PluginLibrary::~PluginLibrary() {
  Shutdown();
  if (module_ != nullptr) FreeLibrary(module_);
}

bool PluginLibrary::Handles(const std::string& type, std::string* registered) const {
  std::string wanted = Lower(Trim(type));
  for (const auto& own : mimeTypes_) {
    if (Lower(own) == wanted) {
      *registered = own;
      return true;
    }
  }
  return false;
}

NPError PluginLibrary::Shutdown() {
  if (!initialized_) return NPERR_NO_ERROR;
  initialized_ = false;
  return shutdown_();
}
