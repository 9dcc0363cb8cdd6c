// The tracing add-on's matching of entry and exit hooks on one thread, fed with the hook
// sequences that compilers and unwinding produce. The library's two function exports (and the
// log name) are replaced here by a recorder, so a row shows exactly which entries the add-on
// writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "trace/thread_calls.h"
#include "trace/trace_log_name.h"

namespace {

std::string written;  // "b<function>" per begin entry, "e" per end entry

}  // namespace

extern "C" int32_t logFuncBeginMgr_device_fname(const char*, int32_t, const char* funcName) {
    unsigned long address = 0;
    sscanf(funcName, "0x%lx", &address);
    written += " b" + std::to_string(address / 0x1000);
    return 1;
}

extern "C" int32_t logFuncEndMgr_device_fname(const char*, int32_t) {
    written += " e";
    return 1;
}

namespace vantrel::trace {

const char* TraceLogName() {
    return "trace.log";
}

namespace {

struct Hook {
    bool entry;
    int function;     // the function is at address function * 0x1000, which has no symbol
    uintptr_t frame;  // the hook's stack address: higher is further out
};

TEST(TracedCallMatching, EveryBeginGetsOneEndAtTheRightPlace) {
    const struct {
        const char* what;
        std::vector<Hook> hooks;
        const char* expected;
    } cases[] = {
        {"exit hooks for every frame",
         {{true, 1, 900}, {true, 2, 800}, {false, 2, 800}, {false, 1, 900}},
         " b1 b2 e e"},
        {"frames unwound without exit hooks, then their caller returns",
         {{true, 1, 900}, {true, 2, 800}, {true, 3, 700}, {true, 3, 600}, {false, 1, 900}},
         " b1 b2 b3 b3 e e e e"},
        {"frames unwound without exit hooks, then their caller calls again higher up",
         {{true, 1, 900}, {true, 2, 800}, {true, 3, 700}, {true, 4, 750}},
         " b1 b2 b3 e b4"},
        {"an inlined callee enters at its caller's frame and stays inside it",
         {{true, 1, 900}, {true, 2, 900}, {false, 2, 900}, {false, 1, 900}},
         " b1 b2 e e"},
        {"a recursion unwound to an inner instance of the same function",
         {{true, 2, 800}, {true, 2, 700}, {true, 2, 600}, {false, 2, 700}, {false, 2, 800}},
         " b2 b2 b2 e e e"},
        {"a signal handler on its own stack, above every open frame, nests",
         {{true, 1, 900}, {true, 5, 90000}, {false, 5, 90000}, {false, 1, 900}},
         " b1 b5 e e"},
        {"the exit of a call that began before tracing writes nothing",
         {{false, 7, 1000}, {true, 1, 900}, {false, 1, 900}},
         " b1 e"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        written.clear();
        // A thread of its own per row: the open calls are per thread.
        std::thread([&] {
            for (const Hook& hook : row.hooks) {
                void* function = reinterpret_cast<void*>(uintptr_t(hook.function) * 0x1000);
                if (hook.entry) {
                    BeginTracedCall(function, hook.frame);
                } else {
                    EndTracedCall(function, hook.frame);
                }
            }
        }).join();
        EXPECT_EQ(written, row.expected);
    }
}

}  // namespace
}  // namespace vantrel::trace
