// End to end on Windows: what a host that calls the logging exports of vantrel.dll finds in
// its instance folder, also when another process holds the log file.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/log_text.h"
#include "support/test_environment.h"
#include "support/win32/host_process.h"
#include "support/win32/registry_values.h"
#include "win32_api.h"

namespace vantrel::test {
namespace {

void SetDefault(const char* name, uint32_t value) {
    SetDword("default settings\\proc\\log", name, value);
}

template <typename Host>
std::string ServiceSummary(const Host& host, int threads) {
    char text[512];
    snprintf(text, sizeof text,
             "\r\nProcess ID: 0x%x\r\nThere are %d thread(s) involved in this log process.\r\n"
             "The initializing/loading thread of vantrel.dll is 0x%08x.\r\nLog Time: <time>\r\n%s"
             "\r\n\r\n",
             static_cast<unsigned>(host.pid), threads, static_cast<unsigned>(host.loadingThreadId),
             std::string(72, '/').c_str());
    return text;
}

struct Ids {
    uint32_t pid, loadingThreadId;
};

Ids IdsOf(const RunningHost& host) {
    return {host.pid(), host.loadingThreadId()};
}

TEST(Win32HostLogging, DefaultSettingsWriteTheEntryAndSummaryAtOnceAndTheNextRunBacksUp) {
    HostInstall host = InstallHost();
    RunningHost running(host, {"print|12 items\\n", "hold"});
    ASSERT_TRUE(running.WaitForLine("holding"));
    ASSERT_EQ(running.lines().front(), "1");
    const std::string folder = host.InstanceFolder(1);
    const std::string expected = "12 items\r\n" + ServiceSummary(IdsOf(running), 1);
    // While the host still runs, the file is already complete and closed.
    EXPECT_EQ(MaskTimes(ReadFile(folder + "\\vantrel.log")), expected);
    EXPECT_FALSE(PathExists(folder + "\\vantrel_0.log"));
    EXPECT_TRUE(PathExists(folder + "\\img"));
    const std::string logKey = host.KeyName() + "\\proc1\\vantrel.log";
    for (const char* name : {"NeedTimeStamp", "ShowThreadId", "CacheSize(KB)", "CreateNewLogFile",
                             "WriteImmediately", "IndentSize", "HtmlDoc", "OutDev"}) {
        EXPECT_EQ(QueryValue(logKey, name).type, static_cast<uint32_t>(REG_DWORD)) << name;
    }
    EXPECT_EQ(QueryValue(logKey, "LogFolderPath").data, folder);
    EXPECT_EQ(running.Finish(), 0);
    EXPECT_EQ(MaskTimes(ReadFile(folder + "\\vantrel.log")), expected) << "unload adds nothing";

    HostRun second = RunHost(host, {"print|next run\\n"});
    ASSERT_EQ(second.exitCode, 0);
    EXPECT_EQ(MaskTimes(ReadFile(folder + "\\vantrel.log.bak")), expected);
    EXPECT_EQ(MaskTimes(ReadFile(folder + "\\vantrel.log")),
              "next run\r\n" + ServiceSummary(second, 1));
}

TEST(Win32HostLogging, FunctionScopesAndDevicesGiveTheSameEntries) {
    HostInstall host = InstallHost();
    HostRun run = RunHost(host, {"begin|trace.log|CScene::Render", "printfdev|trace.log|7|a\\n",
                                 "printfdev|trace.log|0|b\\n", "end|trace.log"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"1", "1", "1", "1"}));
    char head[64];
    snprintf(head, sizeof head, "\r\nCScene::Render // tid:0x%08x\r\n{\r\n",
             static_cast<unsigned>(run.loadingThreadId));
    EXPECT_EQ(MaskTimes(ReadFile(host.InstanceFolder(1) + "\\trace.log")),
              head + std::string("   a\r\n   b\r\n}\r\n") + ServiceSummary(run, 1));
}

TEST(Win32HostLogging, NamesDifferingInCaseShareOneFileAndBadNamesFail) {
    HostInstall host = InstallHost();
    HostRun run = RunHost(
        host, {"printf|Trace.log|one\\n", "printf|TRACE.LOG|two\\n", "printf|bad name.log|x",
               "printf|bad-name.log|x", "printf|bad\\\\name.log|x", "printf|..\\\\up.log|x",
               "printf|" + std::string(256, 'a') + "|x", "printf|trace|x"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"1", "1", "0", "0", "0", "0", "0", "0"}));
    const std::string folder = host.InstanceFolder(1);
    EXPECT_EQ(MaskTimes(ReadFile(folder + "\\Trace.log")),
              "one\r\ntwo\r\n" + ServiceSummary(run, 1));
    for (const char* name : {"bad name.log", "bad-name.log", "name.log", "trace"})
        EXPECT_FALSE(PathExists(folder + "\\" + name)) << name;
    EXPECT_FALSE(PathExists(host.InstanceFolder(1) + "\\..\\up.log"));
    EXPECT_FALSE(KeyExists(host.KeyName() + "\\proc1\\bad name.log"));
}

TEST(Win32HostLogging, HtmlDocumentHasOneHeadAndOneEndBlockAcrossContinuedRuns) {
    SetDefault("HtmlDoc", 1);
    SetDefault("CreateNewLogFile", 0);
    HostInstall host = InstallHost();
    for (int run = 0; run < 2; ++run) {
        HostRun result = RunHost(host, {"print|run " + std::to_string(run) + "\\n"});
        ASSERT_EQ(result.exitCode, 0);
        ASSERT_EQ(result.lines, std::vector<std::string>{"1"});
    }
    const std::string folder = host.InstanceFolder(1);
    EXPECT_FALSE(PathExists(folder + "\\vantrel.log"));
    std::string text = ReadFile(folder + "\\vantrel.log.htm");
    EXPECT_EQ(text.rfind("<HTML>\r\n<HEAD>\r\n", 0), 0u);
    EXPECT_EQ(CountOf(text, "<TITLE>vantrel.log.htm</TITLE>"), 1);
    EXPECT_EQ(CountOf(text, "<!--vantrel begin--!>"), 1);
    EXPECT_EQ(CountOf(text, "<!--vantrel end--!>"), 1);
    EXPECT_EQ(CountOf(text, "There are 1 thread(s)"), 2);
    const size_t r0 = text.find("run 0\r\n"), r1 = text.find("run 1\r\n");
    ASSERT_NE(r1, std::string::npos);
    EXPECT_LT(r0, r1);
    const std::string tail = "</pre></font>\r\n<!--vantrel end--!>\r\n</BODY></HTML>\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(Win32HostLogging, WithoutWriteImmediatelyThreadsAreMergedAtUnloadAndLeaveNoPartFiles) {
    SetDefault("WriteImmediately", 0);
    HostInstall host = InstallHost();
    RunningHost running(host, {"print|main\\n", "thread|print|first\\n", "thread|print|second\\n",
                               "print|main again\\n", "hold"});
    ASSERT_TRUE(running.WaitForLine("holding"));
    const std::string folder = host.InstanceFolder(1);
    for (const char* name : {"\\vantrel.log", "\\vantrel_0.log", "\\vantrel_1.log"})
        EXPECT_FALSE(PathExists(folder + name)) << name << " before unload";
    EXPECT_EQ(running.Finish(), 0);
    EXPECT_EQ(MaskTimes(ReadFile(folder + "\\vantrel.log")),
              "main\r\nmain again\r\nfirst\r\nsecond\r\n" + ServiceSummary(IdsOf(running), 3));
    for (const char* name : {"\\vantrel_0.log", "\\vantrel_1.log", "\\vantrel_2.log"})
        EXPECT_FALSE(PathExists(folder + name)) << name << " after unload";
}

TEST(Win32HostLogging, BitmapSnapshotLandsInImgWithItsTag) {
    HostInstall host = InstallHost();
    HostRun run = RunHost(host, {"bitmap|vantrel.log|-|1|1|24|Frame\\n",
                                 "bitmap|vantrel.log|shot.bmp|3|2|8|named\\n"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"1", "1"}));
    const std::string folder = host.InstanceFolder(1);
    const std::string text = ReadFile(folder + "\\vantrel.log");
    char generated[64];
    snprintf(generated, sizeof generated, "0x%x_0x%x_00000000.bmp", static_cast<unsigned>(run.pid),
             static_cast<unsigned>(run.loadingThreadId));
    const std::string tag = std::string("<img src=\"img/") + generated +
                            "\" border=\"0\" align=\"bottom\" alt=\"" + generated + "\">Frame\r\n";
    EXPECT_EQ(text.rfind(tag, 0), 0u) << text;
    const std::string bmp = ReadFile(folder + "\\img\\" + generated);
    ASSERT_EQ(bmp.size(), 58u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_NE(text.find("<img src=\"img/shot.bmp\" border=\"0\" align=\"bottom\" "
                        "alt=\"shot.bmp\">named\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(folder + "\\img\\shot.bmp").size(), 14u + 40 + 1024 + 8);
}

// Log files are opened without sharing. While another process holds one, calls fail but keep
// their text, and the first call after the release writes all of it.
TEST(Win32HostLogging, AFileHeldByAnotherProcessFailsCallsAndTheTextFollowsOnRelease) {
    HostInstall host = InstallHost();
    RunningHost running(
        host, {"print|first\\n", "wait", "print|while held\\n", "wait", "print|after\\n", "hold"});
    ASSERT_TRUE(running.WaitForLine("waiting"));
    const std::string path = host.InstanceFolder(1) + "\\vantrel.log";
    const std::string before = ReadFile(path);
    {
        std::unique_ptr<void, decltype(&::CloseHandle)> held(
            ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
            &::CloseHandle);
        ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
        ASSERT_TRUE(running.SendLine());
        ASSERT_TRUE(running.WaitForLine("waiting"));
    }
    EXPECT_EQ(ReadFile(path), before) << "nothing was written while the file was held";
    ASSERT_TRUE(running.SendLine());
    ASSERT_TRUE(running.WaitForLine("holding"));
    EXPECT_EQ(running.lines(),
              (std::vector<std::string>{"1", "waiting", "0", "waiting", "1", "holding"}));
    EXPECT_EQ(MaskTimes(ReadFile(path)),
              "first\r\nwhile held\r\nafter\r\n" + ServiceSummary(IdsOf(running), 1));
    EXPECT_EQ(running.Finish(), 0);
}

}  // namespace
}  // namespace vantrel::test
