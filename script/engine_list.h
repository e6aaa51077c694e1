// A list the engine hands back: an out VARIANT holding a one-dimensional
// SAFEARRAY of BSTR VARIANTs. Owned here and cleared on every path.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>
#include <vector>

class EngineList {
 public:
  EngineList() { VariantInit(&list_); }
  ~EngineList() { VariantClear(&list_); }
  EngineList(const EngineList&) = delete;
  EngineList& operator=(const EngineList&) = delete;

  VARIANT* Out() { return &list_; }

  // The elements in order; a null or non-text element is an absent string.
  // Anything but a one-dimensional array reads as an empty list.
  std::vector<std::optional<std::wstring>> Strings() const;

 private:
  VARIANT list_;
};
