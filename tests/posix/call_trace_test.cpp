// End to end: programs built with -finstrument-functions and linked against the tracing
// add-on, run from a temporary folder, and the call trees they leave in their log.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/host.h"
#include "support/log_text.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

#if defined(VANTREL_TRACE_DEMO_PATH)

HostInstall InstallTraced(const char* builtPath, const std::string& name) {
    HostInstall host;
    host.folder = MakeTempDir("traced");
    host.exePath = host.folder + "/" + name;
    std::filesystem::copy_file(builtPath, host.exePath);
    std::filesystem::permissions(host.exePath, std::filesystem::perms::owner_all);
    return host;
}

// The functions a tree is compared on; what the compiler adds around them (standard-library
// code, implicit constructors and destructors) differs between compilers and levels.
const std::set<std::string> kDemoFunctions = {"shapes::Palette::Palette()",
                                              "main",
                                              "shapes::Palette::~Palette()",
                                              "Worker::Run(int)",
                                              "Worker::DrawFrame(int)",
                                              "shapes::Circle::Area() const",
                                              "shapes::Square::Area() const",
                                              "Worker::TryCountDown(int)",
                                              "CountDown(int)",
                                              "DepthExceeded::DepthExceeded(int)"};

struct ThreadTree {
    std::string threadId;
    std::vector<std::string> calls;  // "depth name" of the compared functions, in order
};

// Reads the thread texts of a log: each begin line stands at three spaces per open scope with
// "{" below it, each "}" at the level of its "{"; a thread's text is balanced before the next
// thread's begins. Fails the test where the text is not such a tree.
std::vector<ThreadTree> ReadCallTrees(const std::string& text,
                                      const std::set<std::string>& compared) {
    std::vector<ThreadTree> trees;
    std::vector<bool> open;  // per open scope: whether it is a compared function
    int comparedDepth = 0;
    bool expectBrace = false;
    std::istringstream lines(text.substr(0, text.find("\r\nProcess ID: ")));
    std::string line;
    while (std::getline(lines, line)) {
        EXPECT_FALSE(line.empty() || line.back() != '\r') << "line without CR LF: " << line;
        if (!line.empty()) line.pop_back();
        if (line.empty()) continue;
        const size_t indent = line.find_first_not_of(' ');
        const std::string body = line.substr(indent);
        const size_t depth = open.size();
        if (expectBrace) {
            EXPECT_EQ(body, "{");
            EXPECT_EQ(indent, 3 * (depth - 1)) << line;
            expectBrace = false;
        } else if (body == "}") {
            if (open.empty()) {
                ADD_FAILURE() << "\"}\" without a scope";
                return trees;
            }
            comparedDepth -= open.back() ? 1 : 0;
            open.pop_back();
            EXPECT_EQ(indent, 3 * open.size()) << line;
        } else {
            const size_t tid = body.find(" // tid:0x");
            if (tid == std::string::npos) {
                ADD_FAILURE() << "not a function-begin line: " << line;
                return trees;
            }
            const std::string name = body.substr(0, tid), threadId = body.substr(tid);
            EXPECT_EQ(indent, 3 * depth) << line;
            if (depth == 0 && (trees.empty() || trees.back().threadId != threadId)) {
                trees.push_back(ThreadTree{threadId, {}});
            }
            EXPECT_EQ(threadId, trees.back().threadId) << "threads mixed at: " << line;
            const bool isCompared = compared.count(name) > 0;
            if (isCompared) {
                trees.back().calls.push_back(std::to_string(comparedDepth) + " " + name);
            }
            comparedDepth += isCompared ? 1 : 0;
            open.push_back(isCompared);
            expectBrace = true;
        }
    }
    EXPECT_TRUE(open.empty()) << open.size() << " scopes left open";
    return trees;
}

std::vector<std::string> WorkerTree(int frames) {
    std::vector<std::string> calls = {"0 Worker::Run(int)"};
    for (int frame = 0; frame < frames; ++frame) {
        calls.insert(calls.end(), {"1 Worker::DrawFrame(int)", "2 shapes::Circle::Area() const",
                                   "2 shapes::Square::Area() const"});
    }
    calls.insert(calls.end(),
                 {"1 Worker::TryCountDown(int)", "2 CountDown(int)", "3 CountDown(int)",
                  "4 CountDown(int)", "5 CountDown(int)", "6 DepthExceeded::DepthExceeded(int)"});
    return calls;
}

// The demo, in memory mode (the mode recommended for tracing) and in the default mode: the
// main thread's tree (before, during and after main) comes first, then one tree per worker,
// each balanced although the workers throw out of a recursion.
TEST(CallTrace, DemoLeavesOneBalancedTreePerThread) {
    const struct {
        uint32_t writeImmediately;
        const char* logEnvironment;  // VANTREL_TRACE_LOG, or nullptr
        const char* logName;         // where the trees are expected
    } cases[] = {
        {0, nullptr, "trace.log"},
        {1, nullptr, "trace.log"},
        {0, "calls.log", "calls.log"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.logName + std::string(" WriteImmediately ") +
                     std::to_string(row.writeImmediately));
        UseFreshEnvironment();
        HostInstall host = InstallTraced(VANTREL_TRACE_DEMO_PATH, "demo");
        PutLogSetting(Lower(host.exePath) + "\\proc1", row.logName, "WriteImmediately",
                      row.writeImmediately);
        if (row.logEnvironment) setenv("VANTREL_TRACE_LOG", row.logEnvironment, 1);
        HostRun run = RunProgram(host, {"--frames", "3"});
        unsetenv("VANTREL_TRACE_LOG");
        ASSERT_EQ(run.exitCode, 0);

        const std::string folder = host.InstanceFolder(1);
        if (row.logEnvironment) {
            EXPECT_FALSE(PathExists(folder + "/trace.log"));
        }
        const std::vector<ThreadTree> trees =
            ReadCallTrees(ReadFile(folder + "/" + row.logName), kDemoFunctions);
        ASSERT_EQ(trees.size(), 3u);
        EXPECT_EQ(trees[0].calls,
                  (std::vector<std::string>{"0 shapes::Palette::Palette()", "0 main",
                                            "0 shapes::Palette::~Palette()"}));
        EXPECT_EQ(trees[1].calls, WorkerTree(3));
        EXPECT_EQ(trees[2].calls, WorkerTree(3));
        EXPECT_NE(trees[1].threadId, trees[2].threadId);
    }
}

// What the other host shows: each row a fault that would leave no usable trace.
TEST(CallTrace, NamesExitAndRefusedLogNames) {
    const struct {
        const char* what;
        const char* command;
        const char* logEnvironment;
        std::vector<std::string> expectedInLog;
    } cases[] = {
        // The nearest exported symbol would name the wrong function: an unexported one is
        // logged as its address in the program file.
        {"unnamed", "unnamed", nullptr, {"\r\n   Visible(int) // tid:", " in traced // tid:"}},
        // Threads in traced calls while the process exits, and a traced destructor during
        // static destruction: no crash, no hang, and the log is complete.
        {"exit", "exit-while-busy", nullptr, {"\r\nFarewell::~Farewell() // tid:"}},
        // A name the library cannot use sends the trace to trace.log, which says so first.
        {"refused name",
         "unnamed",
         "my-trace.log",
         {"VANTREL_TRACE_LOG=\"my-trace.log\" is not a usable log name", "Visible(int)"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        UseFreshEnvironment();
        HostInstall host = InstallTraced(VANTREL_TRACED_HOST_PATH, "traced");
        if (row.logEnvironment) setenv("VANTREL_TRACE_LOG", row.logEnvironment, 1);
        HostRun run = RunProgram(host, {row.command});
        unsetenv("VANTREL_TRACE_LOG");
        ASSERT_EQ(run.exitCode, 0);
        const std::string text = ReadFile(host.InstanceFolder(1) + "/trace.log");
        for (const std::string& part : row.expectedInLog) {
            EXPECT_NE(text.find(part), std::string::npos) << part << " in:\n" << text;
        }
        // The file ends with the summary block of the final merge.
        const std::string end = std::string(72, '/') + "\r\n\r\n";
        ASSERT_GT(text.size(), end.size());
        EXPECT_EQ(text.substr(text.size() - end.size()), end);
    }
}

#endif  // VANTREL_TRACE_DEMO_PATH

}  // namespace
}  // namespace vantrel::test
