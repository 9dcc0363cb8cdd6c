// Every function of the tracing add-on carries this: a hook that is itself instrumented would
// call itself. The add-on is also built without the instrumentation flag where the compiler
// can switch it off, which covers the inline library code it uses.
#pragma once

#define VANTREL_TRACE_NO_INSTRUMENT __attribute__((no_instrument_function))
