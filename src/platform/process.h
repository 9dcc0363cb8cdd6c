// Process and thread identity, thread handles with a zero-time-out liveness test, the host
// executable's path and the process creation time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/handles.h"

namespace vantrel::platform {

// Pseudo handles: they stand for "the calling process/thread" wherever they are used, and
// closing them does nothing (GetCurrentProcess/GetCurrentThread).
ProcessHandle GetCurrentProcess();
ThreadHandle GetCurrentThread();
uint32_t GetCurrentProcessId();
uint32_t GetCurrentThreadId();

// The host executable's module (GetModuleHandleA(NULL)); never null on a working platform.
ModuleHandle GetExeModuleHandle();

// Full path of the module's file (GetModuleFileNameA with a 260-byte buffer on Windows).
// False when it cannot be had.
bool GetModuleFileName(ModuleHandle module, std::string* path);

// A real, owned handle to the thread that `source` designates (DuplicateHandle). A pseudo
// handle designates the calling thread. False on failure; *out is then null.
bool DuplicateThreadHandle(ThreadHandle source, ThreadHandle* out);
void CloseThreadHandle(ThreadHandle handle);

// WaitForSingleObject(handle, 0) == WAIT_OBJECT_0: true once the thread has ended.
bool IsThreadSignalled(ThreadHandle handle);

// Creation time of the process in local time, whole seconds (milliseconds 0), passed
// through the C library's local-time round trip. False when a conversion fails.
bool GetProcessCreationLocalTime(ProcessHandle process, SystemTime* out);

}  // namespace vantrel::platform
