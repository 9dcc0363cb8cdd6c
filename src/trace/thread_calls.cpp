#include "trace/thread_calls.h"

#include "trace/function_names.h"
#include "trace/trace_log_name.h"
#include "vantrel/vantrel.h"

namespace vantrel::trace {

namespace {

struct OpenCall {
    void* function;
    uintptr_t stackAddress;
};

// Deeper calls are still logged but only counted; their exits are taken to match (as they do
// whenever exit hooks run on unwind).
constexpr uint32_t kRecordedDepth = 1024;

// Each thread's most recent names, so that a hot function costs no lock.
constexpr uint32_t kNameSlots = 64;
struct NameSlot {
    void* function;
    const char* name;
};

// Zero-initialised and trivially destructible: usable from the first hook of a thread to its
// last, static destruction included.
struct ThreadCalls {
    uint32_t recorded;
    uint32_t unrecorded;
    OpenCall open[kRecordedDepth];
    NameSlot names[kNameSlots];
};
thread_local ThreadCalls threadCalls;

VANTREL_TRACE_NO_INSTRUMENT const char* CachedFunctionName(ThreadCalls& calls, void* function) {
    NameSlot& slot = calls.names[(reinterpret_cast<uintptr_t>(function) >> 4) % kNameSlots];
    if (slot.function != function) {
        slot.name = FunctionName(function);
        slot.function = function;
    }
    return slot.name;
}

VANTREL_TRACE_NO_INSTRUMENT void CloseDownTo(ThreadCalls& calls, uint32_t depth) {
    while (calls.recorded > depth) {
        --calls.recorded;
        logFuncEndMgr_device_fname(TraceLogName(), 0);
    }
}

}  // namespace

void BeginTracedCall(void* function, uintptr_t stackAddress) noexcept {
    ThreadCalls& calls = threadCalls;
    if (calls.unrecorded == 0 && calls.recorded > 0 &&
        calls.open[calls.recorded - 1].stackAddress < stackAddress) {
        // Open calls below this frame were unwound without their exit hooks, if a call that
        // is still open lies above it. Otherwise this runs on another stack (a signal stack)
        // and nests under the interrupted call.
        uint32_t live = calls.recorded;
        while (live > 0 && calls.open[live - 1].stackAddress < stackAddress) --live;
        if (live > 0) CloseDownTo(calls, live);
    }
    logFuncBeginMgr_device_fname(TraceLogName(), 0, CachedFunctionName(calls, function));
    if (calls.recorded < kRecordedDepth && calls.unrecorded == 0) {
        calls.open[calls.recorded++] = OpenCall{function, stackAddress};
    } else {
        ++calls.unrecorded;
    }
}

void EndTracedCall(void* function, uintptr_t stackAddress) noexcept {
    ThreadCalls& calls = threadCalls;
    if (calls.unrecorded > 0) {
        --calls.unrecorded;
        logFuncEndMgr_device_fname(TraceLogName(), 0);
        return;
    }
    // The innermost open call of this function whose frame is not below this one; calls
    // above it were unwound.
    for (uint32_t at = calls.recorded; at > 0; --at) {
        const OpenCall& open = calls.open[at - 1];
        if (open.function == function && open.stackAddress >= stackAddress) {
            CloseDownTo(calls, at - 1);
            return;
        }
    }
    // No open call matches by frame: trust the function alone for the innermost call, else
    // this exit belongs to a call that began before tracing did.
    if (calls.recorded > 0 && calls.open[calls.recorded - 1].function == function) {
        CloseDownTo(calls, calls.recorded - 1);
    }
}

}  // namespace vantrel::trace
