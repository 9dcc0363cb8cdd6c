// The entry and exit hooks that -finstrument-functions calls around every function of the
// program, and the add-on's load and unload.
#include <cstdint>

#include "trace/function_names.h"
#include "trace/no_instrument.h"
#include "trace/thread_calls.h"
#include "trace/trace_log_name.h"
#include "trace/trace_window.h"

namespace {

// Set while a hook runs on this thread: whatever the library, the allocator or the demangler
// call from inside a hook (instrumented replacements of operator new, say) is not traced.
thread_local bool insideHook = false;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) VANTREL_TRACE_NO_INSTRUMENT void __cyg_profile_func_enter(
    void* function, void* /*callSite*/) {
    if (insideHook) return;
    insideHook = true;
    {
        vantrel::trace::TraceWindowPass pass;
        if (pass.IsOpen()) {
            vantrel::trace::BeginTracedCall(
                function, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
        }
    }
    insideHook = false;
}

__attribute__((visibility("default"))) VANTREL_TRACE_NO_INSTRUMENT void __cyg_profile_func_exit(
    void* function, void* /*callSite*/) {
    if (insideHook) return;
    insideHook = true;
    {
        vantrel::trace::TraceWindowPass pass;
        if (pass.IsOpen()) {
            vantrel::trace::EndTracedCall(function,
                                          reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
        }
    }
    insideHook = false;
}

}  // extern "C"

namespace {

// The library is a dependency of the add-on, so it is loaded before this runs and unloaded
// after the destructor below.
__attribute__((constructor)) VANTREL_TRACE_NO_INSTRUMENT void LoadTraceAddOn() {
    vantrel::trace::ChooseTraceLogName();
    vantrel::trace::KeepFunctionNamesUsableAfterFork();
    vantrel::trace::OpenTraceWindow();
}

__attribute__((destructor)) VANTREL_TRACE_NO_INSTRUMENT void UnloadTraceAddOn() {
    vantrel::trace::CloseTraceWindow();
}

}  // namespace
