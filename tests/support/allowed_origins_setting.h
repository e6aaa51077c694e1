// The site lock's setting (AllowedOrigins under Software\Halvo\Transfer
// Plugin) in one hive of the test prefix, put back as it was when the object
// goes: the value, and the keys if this object made them. Every process of the
// prefix sees the value, so tests that write it hold the CTest lock
// engine_registry, like every program that loads the module.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

class AllowedOriginsSetting {
 public:
  explicit AllowedOriginsSetting(HKEY root);
  ~AllowedOriginsSetting();
  AllowedOriginsSetting(const AllowedOriginsSetting&) = delete;
  AllowedOriginsSetting& operator=(const AllowedOriginsSetting&) = delete;

  // Writes the value as REG_SZ (true on success).
  bool Set(const std::wstring& list);
  // Writes raw data of any type.
  bool SetRaw(DWORD type, const void* data, DWORD bytes);
  // Removes the value.
  void Remove();

 private:
  HKEY root_;
  bool keyExisted_ = false;
  bool parentExisted_ = false;
  std::optional<std::pair<DWORD, std::vector<BYTE>>> saved_;
};
