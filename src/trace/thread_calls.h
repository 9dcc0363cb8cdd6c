// The traced calls that are open on the calling thread, so that every function-begin entry
// gets exactly one function-end entry.
//
// GCC calls the exit hook of every frame an exception unwinds; Clang does not. The stack of
// open calls lets a later hook see which frames are gone: an exit hook closes the calls that
// were opened above its own frame, and a call that starts higher on the machine stack than
// open calls closes those. Frames are told apart by the stack address of the hook, which is
// the same for a function's entry and exit hooks.
#pragma once

#include <cstdint>

#include "trace/no_instrument.h"

namespace vantrel::trace {

// Called by the hooks with the window open and re-entry excluded.
VANTREL_TRACE_NO_INSTRUMENT void BeginTracedCall(void* function, uintptr_t stackAddress) noexcept;
VANTREL_TRACE_NO_INSTRUMENT void EndTracedCall(void* function, uintptr_t stackAddress) noexcept;

}  // namespace vantrel::trace
