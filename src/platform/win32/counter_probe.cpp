#include "platform/win32/counter_probe.h"

// The guarded RDTSC, at a label of its own so that the handler can tell a fault there from
// any other. ECX/RCX is 1 going in; the handler clears it when the instruction faults.
extern "C" const char vantrelCounterProbeSite[] __asm__("vantrel_counter_probe_site");

namespace vantrel::platform::win32 {

namespace {

constexpr uintptr_t kRdtscLength = 2;  // 0F 31

// Never inlined or cloned: the label must exist exactly once.
__attribute__((noinline, noclone)) bool GuardedRdtsc(uint64_t* ticks) {
    uint32_t low = 0, high = 0;
    uintptr_t ok = 1;
    __asm__ volatile(
        ".globl vantrel_counter_probe_site\n"
        "vantrel_counter_probe_site:\n\t"
        "rdtsc"
        : "=a"(low), "=d"(high), "+c"(ok)
        :
        : "memory");
    if (ok == 0) return false;
    *ticks = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

}  // namespace

const void* CounterProbeAddress() {
    return vantrelCounterProbeSite;
}

LONG CALLBACK SkipFaultingCounterProbe(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    const DWORD code = record->ExceptionCode;
    // Windows reports a disabled counter as a privileged instruction; emulators and other
    // hosts may call it illegal or an access violation. An RDTSC touches no memory, so every
    // one of them at this address means the same thing.
    if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ILLEGAL_INSTRUCTION &&
        code != EXCEPTION_ACCESS_VIOLATION) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (record->ExceptionAddress != CounterProbeAddress()) return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* context = info->ContextRecord;
#if defined(__x86_64__)
    context->Rip += kRdtscLength;
    context->Rcx = 0;
#else
    context->Eip += kRdtscLength;
    context->Ecx = 0;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool ProbeTimeStampCounter(uint64_t* ticks) {
    PVOID handler = ::AddVectoredExceptionHandler(1, &SkipFaultingCounterProbe);
    // Without the guard a refused counter would end the process; do without it instead.
    if (!handler) return false;
    const bool read = GuardedRdtsc(ticks);
    ::RemoveVectoredExceptionHandler(handler);
    return read;
}

}  // namespace vantrel::platform::win32
