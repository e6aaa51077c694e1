// The engine's one event: 24 positional values, named here by their index in
// the DISPPARAMS argument array (COM order: index k is declared parameter 24 - k).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <optional>
#include <string>

#include "transfer/task_param.h"

struct TaskEvent {
  uint8_t kind = 0;            // 0
  std::wstring texts[13];      // 1..13 (index 2 is the task key)
  uint32_t number14 = 0;       // 14
  std::wstring text15;         // 15
  double number16 = 0;         // 16
  uint8_t number17 = 0;        // 17
  uint8_t number18 = 0;        // 18
  uint8_t state = 0;           // 19
  int32_t number20 = 0;        // 20
  uint32_t number21 = 0;       // 21
  int64_t number22 = 0;        // 22
  int64_t number23 = 0;        // 23

  // The text at argument index 1..13.
  const std::wstring& Text(int index) const { return texts[index - 1]; }
  const std::wstring& Key() const { return Text(2); }

  // The record an event keeps in the task store.
  _TaskParam Record() const;
};

// Reads an event from the engine's arguments; nothing when fewer than 24 arrived.
// A text position that does not hold a BSTR reads as empty text; a null BSTR is empty.
std::optional<TaskEvent> ReadTaskEvent(const DISPPARAMS* params);
