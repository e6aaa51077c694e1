// Task-allocator memory as the engine sees it: an IMallocSpy registered with
// COM tracks every live block of the process, so the engine can tell whether
// a BSTR it handed out has been freed, and whether a BSTR it receives is a
// real one. oleaut32's BSTR cache is switched off at installation, since a
// cached free never reaches the allocator.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <string>
#include <vector>

#include "tests/test_engine/test_engine_control.h"

namespace memory_ledger {

// Once per process, before anything is handed out.
void Install();

// A fresh BSTR of text (null text: a null BSTR, not counted), remembered as handed out.
BSTR HandOutText(const std::wstring* text);
// A fresh SAFEARRAY of BSTR VARIANTs (null items: null BSTRs), remembered with its items.
SAFEARRAY* HandOutList(const std::vector<const std::wstring*>& items, LONG lowerBound);

// True when text points at the characters of a live BSTR block; then
// *length is its SysStringLen.
bool IsLiveBstr(const wchar_t* text, std::size_t* length);

void Get(TestEngineLedger* ledger);
void Reset();

}  // namespace memory_ledger
