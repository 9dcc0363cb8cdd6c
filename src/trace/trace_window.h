// The time in which hooks may reach the library: from the add-on's load to its unload. The
// library is loaded before the add-on and unloaded after it, so inside the window every call
// finds the library alive. Hooks that fire outside it (in code that runs before the add-on's
// constructor or after its destructor, such as other threads during exit) do nothing.
#pragma once

#include "trace/no_instrument.h"

namespace vantrel::trace {

// Opens the window (add-on load).
VANTREL_TRACE_NO_INSTRUMENT void OpenTraceWindow();
// Closes the window and waits until no call that entered it is still in the library (add-on
// unload), so that the library's unload never meets a traced call in flight.
VANTREL_TRACE_NO_INSTRUMENT void CloseTraceWindow();

// One passage of a hook through the window; IsOpen tells whether it may call the library.
class TraceWindowPass {
  public:
    VANTREL_TRACE_NO_INSTRUMENT TraceWindowPass() noexcept;
    VANTREL_TRACE_NO_INSTRUMENT ~TraceWindowPass();
    TraceWindowPass(const TraceWindowPass&) = delete;
    TraceWindowPass& operator=(const TraceWindowPass&) = delete;
    VANTREL_TRACE_NO_INSTRUMENT bool IsOpen() const { return open_; }

  private:
    bool open_ = false;
};

}  // namespace vantrel::trace
