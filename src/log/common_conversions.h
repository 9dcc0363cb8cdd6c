// A printf for the conversions that log entries use most (%d %i %u %x %X %c %s %%, with the
// length modifier l, no flags, width or precision; "ll" is not known to every C runtime). It gives
// byte for byte what the C runtime's printf gives, at a fraction of its cost; anything else is left
// to the C runtime.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace vantrel {

// Formats into out[0..size) and NUL-terminates. Returns the number of characters written, none
// of them a NUL, or -1 when the format holds anything else (including a null %s argument, whose
// text differs between C runtimes, and a %c of NUL) or the result does not fit; args is then
// partly consumed and the caller formats again from a copy.
int FormatCommonConversions(char* out, size_t size, const char* format, va_list args);

}  // namespace vantrel
