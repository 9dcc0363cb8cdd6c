// The tracing add-on: its matching of entry and exit hooks (the library's function exports
// replaced here by a recorder), and programs built with -finstrument-functions end to end.
#include <cstdint>
#include <regex>
#include <sstream>
#include <thread>

#include "posix/posix_fixture.h"
#include "trace/thread_calls.h"
#include "trace/trace_log_name.h"

namespace {
std::string written;  // " b<function>" per begin entry, " e" per end entry
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
    int function;     // at address function * 0x1000, which has no symbol
    uintptr_t frame;  // the hook's stack address: higher is further out
};

TEST(TracedCallMatching, EveryBeginGetsOneEndAtTheRightPlace) {
    // clang-format off
    const struct { const char* what; std::vector<Hook> hooks; const char* expected; } rows[] = {
        {"exit hooks for every frame", {{true, 1, 900}, {true, 2, 800}, {false, 2, 800}, {false, 1, 900}}, " b1 b2 e e"},
        {"frames unwound without exit hooks, then their caller returns", {{true, 1, 900}, {true, 2, 800}, {true, 3, 700}, {true, 3, 600}, {false, 1, 900}}, " b1 b2 b3 b3 e e e e"},
        {"frames unwound without exit hooks, then their caller calls again higher up", {{true, 1, 900}, {true, 2, 800}, {true, 3, 700}, {true, 4, 750}}, " b1 b2 b3 e b4"},
        {"an inlined callee enters at its caller's frame", {{true, 1, 900}, {true, 2, 900}, {false, 2, 900}, {false, 1, 900}}, " b1 b2 e e"},
        {"a recursion unwound to an inner instance of the same function", {{true, 2, 800}, {true, 2, 700}, {true, 2, 600}, {false, 2, 700}, {false, 2, 800}}, " b2 b2 b2 e e e"},
        {"a signal handler on its own stack, above every open frame, nests", {{true, 1, 900}, {true, 5, 90000}, {false, 5, 90000}, {false, 1, 900}}, " b1 b5 e e"},
        {"the exit of a call that began before tracing writes nothing", {{false, 7, 1000}, {true, 1, 900}, {false, 1, 900}}, " b1 e"},
    };
    // clang-format on
    for (const auto& row : rows) {
        written.clear();
        std::thread([&] {  // a thread per row: the open calls are per thread
            for (const Hook& hook : row.hooks) {
                void* function = reinterpret_cast<void*>(uintptr_t(hook.function) * 0x1000);
                hook.entry ? BeginTracedCall(function, hook.frame)
                           : EndTracedCall(function, hook.frame);
            }
        })
            .join();
        EXPECT_EQ(row.expected, written) << row.what;
    }
}

#if defined(VANTREL_TRACE_DEMO_PATH)

// Per thread, its compared calls as "depth name;" (compilers add others around them).
std::vector<std::string> CallTrees(const std::string& text) {
    const std::string compared =
        "|shapes::Palette::Palette()|main|shapes::Palette::~Palette()|Worker::Run(int)|"
        "Worker::DrawFrame(int)|shapes::Circle::Area() const|shapes::Square::Area() const|"
        "Worker::TryCountDown(int)|CountDown(int)|DepthExceeded::DepthExceeded(int)|";
    std::vector<std::string> trees;
    std::vector<std::pair<size_t, bool>> open;  // per open call: indent, whether compared
    std::string thread, line;
    std::istringstream lines(text.substr(0, text.find("\r\nProcess ID: ")));
    while (std::getline(lines, line)) {
        const size_t indent = line.find_first_not_of(' '), tid = line.find(" // tid:0x");
        if (tid == std::string::npos) continue;  // braces and blank lines: the entry table's
        while (!open.empty() && open.back().first >= indent) open.pop_back();
        if (open.empty() && line.substr(tid) != thread) trees.emplace_back();
        if (open.empty()) thread = line.substr(tid);
        EXPECT_EQ(thread, line.substr(tid)) << "threads mixed at: " << line;
        const std::string name = line.substr(indent, tid - indent);
        open.emplace_back(indent, test::Has(compared, "|" + name + "|"));
        if (open.back().second)
            trees.back() +=
                std::to_string(
                    std::count_if(open.begin(), open.end(), [](auto& o) { return o.second; }) - 1) +
                " " + name + ";";
    }
    return trees;
}

// The demo's trees: main thread's, then one per worker although workers throw out of a
// recursion; the traced host names calls and exits while its threads trace.
TEST(CallTrace, ProgramsLeaveBalancedTreesAndNamedCallsInACompleteLog) {
    // A demo row's WriteImmediately (-1: a traced-host row), the log and patterns it holds.
    // clang-format off
    const std::string frame = "1 Worker::DrawFrame(int);2 shapes::Circle::Area() const;2 shapes::Square::Area() const;";
    const std::string worker = "0 Worker::Run(int);" + frame + frame + frame + "1 Worker::TryCountDown(int);2 CountDown(int);3 CountDown(int);4 CountDown(int);5 CountDown(int);6 DepthExceeded::DepthExceeded(int);";
    const std::vector<std::string> demoTrees = {"0 shapes::Palette::Palette();0 main;0 shapes::Palette::~Palette();", worker, worker};
    const struct { const char* fault; int writeImmediately; std::vector<std::string> arguments; const char* logEnvironment; const char* log; std::vector<std::string> inLog; } rows[] = {
        {"written at once, or VANTREL_TRACE_LOG not followed", 1, {"--frames", "3"}, "calls.log", "calls.log", {}},
        {"an unexported function named by the nearest export; a refused log name not told", -1, {"unnamed"}, "my-trace.log", "trace.log", {"\r\n   Visible\\(int\\) // tid:0x\\w+\r\n   \\{\r\n      0x[0-9a-f]+ in traced // tid:", "VANTREL_TRACE_LOG=\"my-trace\\.log\" is not a usable log name"}},
        {"a crash or hang while threads trace through exit and static destruction", -1, {"exit-while-busy"}, nullptr, "trace.log", {"\r\nFarewell::~Farewell\\(\\) // tid:"}},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        test::UseFreshEnvironment();
        const bool demo = row.writeImmediately >= 0;
        test::HostInstall host;
        host.folder = test::MakeTempDir("traced");
        host.exePath = host.folder + (demo ? "/demo" : "/traced");
        std::filesystem::copy_file(demo ? VANTREL_TRACE_DEMO_PATH : VANTREL_TRACED_HOST_PATH,
                                   host.exePath);
        if (demo)
            test::PutLogSetting(test::Lower(host.exePath) + "\\proc1", row.log, "WriteImmediately",
                                row.writeImmediately);
        if (row.logEnvironment) setenv("VANTREL_TRACE_LOG", row.logEnvironment, 1);
        const test::HostRun run = test::RunHost(host, {}, {-1, {}, row.arguments});
        unsetenv("VANTREL_TRACE_LOG");
        ASSERT_EQ(0, run.exitCode);
        EXPECT_EQ(std::string(row.log) == "trace.log", test::PathExists(host.LogPath("trace.log")));
        const std::string text = test::ReadFile(host.LogPath(row.log));
        EXPECT_EQ(demo ? demoTrees : std::vector<std::string>(),
                  demo ? CallTrees(text) : std::vector<std::string>());
        for (const std::string& pattern : row.inLog)
            EXPECT_TRUE(std::regex_search(text, std::regex(pattern))) << pattern << " in " << text;
        test::ExpectCompleteLog(text, "");
    }
}

#endif  // VANTREL_TRACE_DEMO_PATH

}  // namespace
}  // namespace vantrel::trace
