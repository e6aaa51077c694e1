// The three classes the engine serves, made by their class factories: each
// answers a fresh object's riid interface with one reference and its number.
#pragma once

#include <windows.h>

#include <cstdint>

HRESULT CreateSchedule(REFIID riid, void** out, uint32_t* instance);
HRESULT CreateConfig(REFIID riid, void** out, uint32_t* instance);
HRESULT CreateDownload(REFIID riid, void** out, uint32_t* instance);
