// What the module as a whole keeps: its handle, the count of live COM objects
// and server locks (DllCanUnloadNow), and threads that pin the module while
// they run, so that it is never unmapped under them.
#pragma once

#include <windows.h>

#include <functional>

namespace engine {

HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool ModuleInUse();

// Runs body on a new thread holding a reference on this module until body
// returns. Returns the thread's handle (the caller closes it), or null.
HANDLE StartModuleThread(std::function<void()> body);

// Waits for the handle; messages sent to this thread from other threads are
// still delivered meanwhile (a sink that sends to the caller's window cannot
// deadlock against it). Returns false on time-out.
bool WaitDeliveringSentMessages(HANDLE handle, DWORD timeoutMs);

}  // namespace engine
