// The guarded first reading of the processor's time-stamp counter. Windows reports a refused
// RDTSC as a structured exception; MinGW has no __try, so a vectored exception handler
// catches a fault raised at the probe's own RDTSC, steps over the instruction and marks the
// reading as failed. Any other exception is left to the handlers after it.
#pragma once

#include <cstdint>

#include "platform/win32/win32_api.h"

namespace vantrel::platform::win32 {

// Runs RDTSC once under the handler. False when the processor refused it.
bool ProbeTimeStampCounter(uint64_t* ticks);

// The handler itself, and the address of the guarded instruction (exposed for tests).
LONG CALLBACK SkipFaultingCounterProbe(EXCEPTION_POINTERS* info);
const void* CounterProbeAddress();

}  // namespace vantrel::platform::win32
