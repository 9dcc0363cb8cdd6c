// The log that traced calls go to: "trace.log", or the name in the environment variable
// VANTREL_TRACE_LOG (the add-on's only setting; the library's own come from its settings
// store).
#pragma once

#include "trace/no_instrument.h"

namespace vantrel::trace {

// Reads VANTREL_TRACE_LOG once, at the add-on's load. A name the library cannot use (empty
// is "unset"; otherwise letters, digits, "_" and "." with at least one ".", at most 255
// characters) is refused: the default is used and the refusal is logged as the first entry
// of that log, so the user finds out where the trace went.
VANTREL_TRACE_NO_INSTRUMENT void ChooseTraceLogName();

// The chosen name; "trace.log" until ChooseTraceLogName has run.
VANTREL_TRACE_NO_INSTRUMENT const char* TraceLogName();

}  // namespace vantrel::trace
