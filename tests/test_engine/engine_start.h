// The engine's first use in a process: pins the DLL (its state must outlive
// any FreeLibrary, by COM or by a test) and installs the memory spy.
#pragma once

void EnsureEngineStarted();
