// The name a traced function is logged under: its symbol, demangled, when the dynamic symbol
// table knows it (link the program with -rdynamic to put its own functions there); otherwise
// its address as addr2line takes it, followed by the file that holds it ("0x1a2b in demo").
#pragma once

#include "trace/no_instrument.h"

namespace vantrel::trace {

// The name of the function that starts at `function`; never null. Names are worked out once
// per function and kept for the life of the process, so the pointer stays valid.
VANTREL_TRACE_NO_INSTRUMENT const char* FunctionName(void* function) noexcept;

// Holds the name table's lock across fork(), so that a child never inherits it taken by a
// thread that does not exist there. Called once, at the add-on's load.
VANTREL_TRACE_NO_INSTRUMENT void KeepFunctionNamesUsableAfterFork();

}  // namespace vantrel::trace
