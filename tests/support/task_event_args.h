// The 24 arguments of one TaskEvent as an engine passes them: COM order
// (index k holds declared parameter 24 - k), each with its VARTYPE (VT_UI1
// at 0, 17, 18, 19; VT_BSTR at 1 to 13 and 15; VT_UI4 at 14 and 21; VT_R8 at
// 16; VT_I4 at 20; VT_I8 at 22 and 23). Numbers start at 0, texts empty. The
// object owns its values and clears them at its end.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

class TaskEventArgs {
 public:
  static constexpr unsigned kCount = 24;
  static constexpr unsigned kKind = 0, kKey = 2, kState = 19;

  TaskEventArgs();
  ~TaskEventArgs();
  TaskEventArgs(const TaskEventArgs&) = delete;
  TaskEventArgs& operator=(const TaskEventArgs&) = delete;

  // The value at COM index; replacing it (any VARTYPE) goes through Set.
  VARIANT& operator[](unsigned index) { return values_[index]; }
  void Set(unsigned index, const VARIANT& value);  // takes a copy
  void SetText(unsigned index, const wchar_t* text);  // null: a null BSTR
  void SetNumber(unsigned index, int64_t value);      // kept in the index's own VARTYPE
  void SetReal(unsigned index, double value);

  VARIANT* data() { return values_; }

 private:
  VARIANT values_[kCount];
};
