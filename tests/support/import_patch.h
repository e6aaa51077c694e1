// Replaces one imported function in a loaded module's import table for the
// life of the object, so a test can see the call instead of its effect (the
// module's ShellExecuteW must not start a real file manager).
#pragma once

#include <windows.h>

class ImportPatch {
 public:
  ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  bool Applied() const { return slot_ != nullptr; }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};
