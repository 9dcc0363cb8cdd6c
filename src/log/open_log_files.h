// The log files that stay open between calls, so that a process with many logs holds a
// bounded number of descriptors: beyond kMostOpenLogFiles, the file of the log used least
// recently is closed (its next call opens it again).
#pragma once

#include <cstddef>

namespace vantrel {

class CLogService;

constexpr size_t kMostOpenLogFiles = 16;

// Counts service's open file among the kept ones. Called with the service's lock held.
void KeepLogFileOpen(CLogService& service);
// Takes the service out of the count; before its file closes for good.
void ForgetOpenLogFile(CLogService& service);

}  // namespace vantrel
