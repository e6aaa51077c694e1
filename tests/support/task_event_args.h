// The 24 arguments of one TaskEvent as an engine passes them: at their
// positions, each with its VARTYPE (engine/task_event.h). Numbers start at 0,
// texts empty. The object owns its values and clears them at its end.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "engine/task_event.h"

class TaskEventArgs {
 public:
  static constexpr unsigned kCount = task_event::kCount;

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
