// The times that entries and summaries show, formatted digit by digit: snprintf would cost
// more than the rest of an entry kept in memory.
#pragma once

#include <cstddef>

#include "platform/clock.h"

namespace vantrel {

// "hh:mm:ss:mmm" (%02d:%02d:%02d:%03d). Needs 48 bytes; returns the characters written,
// without a NUL.
size_t FormatClockTime(char* out, const platform::SystemTime& time);

// "Log Time: yyyy/mm/dd hh:mm:ss:mmm\r\n" (%04d/%02d/%02d ...). Needs 96 bytes; returns the
// characters written, without a NUL.
size_t FormatLogTimeLine(char* out, const platform::SystemTime& time);

}  // namespace vantrel
