// End to end: what a host that calls the logging exports finds in its instance folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/settings_store.h"
#include "support/host_runner.h"
#include "support/log_text.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

std::string ServiceSummary(int pid, int threads) {
    char text[512];
    snprintf(text, sizeof text,
             "\r\nProcess ID: 0x%x\r\nThere are %d thread(s) involved in this log process.\r\n"
             "The initializing/loading thread of vantrel.dll is 0x%08x.\r\nLog Time: <time>\r\n%s"
             "\r\n\r\n",
             pid, threads, pid, std::string(72, '/').c_str());
    return text;
}

TEST(HostLogging, DefaultSettingsWriteTheEntryAndSummaryAtOnce) {
    HostInstall host = InstallHost("viewer");
    RunningHost running(host, {"print|12 items\\n", "hold"});
    ASSERT_TRUE(running.WaitForLine("holding"));
    const int pid = running.pid();
    ASSERT_EQ(running.lines().front(), "1");
    const std::string folder = host.InstanceFolder(1);
    // While the host still runs, the file is already complete and closed.
    std::string text = MaskTimes(ReadFile(folder + "/vantrel.log"));
    EXPECT_EQ(text, "12 items\r\n" + ServiceSummary(pid, 1));
    EXPECT_FALSE(PathExists(folder + "/vantrel_0.log"));
    EXPECT_TRUE(PathExists(folder + "/img"));

    const std::string logKey =
        std::string(kRootSubKey) + "\\" + Lower(host.exePath) + "\\proc1\\vantrel.log";
    for (int i = 0; i < kSettingCount; ++i) {
        const char* name = GetSettingInfo(static_cast<Setting>(i)).valueName;
        EXPECT_EQ(GetValue(logKey, name).value_or("").size(), 4u) << name;
    }
    EXPECT_EQ(GetValue(logKey, "LogFolderPath"), folder);
    EXPECT_EQ(running.Finish(), 0);

    // After unload the file still holds the entry and one summary.
    EXPECT_EQ(MaskTimes(ReadFile(folder + "/vantrel.log")),
              "12 items\r\n" + ServiceSummary(pid, 1));

    // The next run moves it to the back-up and starts afresh.
    HostRun second = RunHost(host, {"print|next run\\n"});
    ASSERT_EQ(second.exitCode, 0);
    EXPECT_EQ(MaskTimes(ReadFile(folder + "/vantrel.log.bak")),
              "12 items\r\n" + ServiceSummary(pid, 1));
    EXPECT_EQ(MaskTimes(ReadFile(folder + "/vantrel.log")).rfind("next run\r\n", 0), 0u);
}

TEST(HostLogging, FunctionScopesAndDevicesGiveTheSameEntries) {
    HostInstall host = InstallHost("viewer");
    HostRun run = RunHost(host, {"begin|trace.log|CScene::Render", "printfdev|trace.log|7|a\\n",
                                 "printfdev|trace.log|0|b\\n", "end|trace.log"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.lines, (std::vector<std::string>{"1", "1", "1", "1"}));
    std::string text = ReadFile(host.InstanceFolder(1) + "/trace.log");
    // The thread id is the loading thread's; compare around it.
    std::regex shape(
        "^\r\nCScene::Render // tid:0x[0-9a-f]{8}\r\n\\{\r\n   a\r\n   b\r\n\\}\r\n\r\nProcess ID");
    EXPECT_TRUE(std::regex_search(text, shape)) << text;
}

TEST(HostLogging, NamesDifferingInCaseShareOneFileAndBadNamesFail) {
    HostInstall host = InstallHost("viewer");
    HostRun run =
        RunHost(host, {"printf|Trace.log|one\\n", "printf|TRACE.LOG|two\\n",
                       "printf|bad name.log|x", "printf|bad-name.log|x", "printf|bad\\\\name.log|x",
                       "printf|" + std::string(256, 'a') + "|x", "printf|bad name.log|x"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.lines, (std::vector<std::string>{"1", "1", "0", "0", "0", "0", "0"}));
    const std::string folder = host.InstanceFolder(1);
    std::string text = ReadFile(folder + "/Trace.log");
    EXPECT_EQ(text.rfind("one\r\ntwo\r\n", 0), 0u) << text;
    EXPECT_FALSE(PathExists(folder + "/TRACE.LOG"));
    EXPECT_FALSE(PathExists(folder + "/bad name.log"));
    platform::RegKey key = nullptr;
    EXPECT_NE(platform::RegOpenKey(
                  std::string(kRootSubKey) + "\\" + Lower(host.exePath) + "\\proc1\\bad name.log",
                  platform::kKeyRead, &key),
              0);
}

TEST(HostLogging, NameWithoutDotIsServedButEveryCallFails) {
    HostInstall host = InstallHost("viewer");
    HostRun run = RunHost(host, {"printf|trace|x\\n", "printf|trace|y\\n"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"0", "0"}));
}

TEST(HostLogging, HtmlDocumentIsCompleteAndContinuedRunsKeepOneFrame) {
    PutDefaultSetting("HtmlDoc", 1);
    PutDefaultSetting("CreateNewLogFile", 0);
    HostInstall host = InstallHost("viewer");
    for (int run = 0; run < 3; ++run) {
        HostRun result = RunHost(host, {"print|run " + std::to_string(run) + "\\n"});
        ASSERT_EQ(result.exitCode, 0) << result.errors;
        ASSERT_EQ(result.lines, std::vector<std::string>{"1"});
    }
    std::string text = ReadFile(host.InstanceFolder(1) + "/vantrel.log.htm");
    EXPECT_EQ(text.rfind("<HTML>\r\n<HEAD>\r\n", 0), 0u);
    EXPECT_NE(text.find("<TITLE>vantrel.log.htm</TITLE>"), std::string::npos);
    EXPECT_EQ(CountOf(text, "<!--vantrel begin--!>"), 1);
    EXPECT_EQ(CountOf(text, "<!--vantrel end--!>"), 1);
    EXPECT_EQ(CountOf(text, "There are 1 thread(s)"), 3);
    size_t r0 = text.find("run 0\r\n"), r1 = text.find("run 1\r\n"), r2 = text.find("run 2\r\n");
    ASSERT_NE(r2, std::string::npos);
    EXPECT_LT(r0, r1);
    EXPECT_LT(r1, r2);
    const std::string tail = "</pre></font>\r\n<!--vantrel end--!>\r\n</BODY></HTML>\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(HostLogging, MemoryModeWritesThreadFilesOnlyAtUnload) {
    PutDefaultSetting("WriteImmediately", 0);
    HostInstall host = InstallHost("viewer");
    RunningHost running(host, {"print|main\\n", "thread|print|first\\n", "thread|print|second\\n",
                               "print|main again\\n", "hold"});
    ASSERT_TRUE(running.WaitForLine("holding"));
    const int pid = running.pid();
    const std::string folder = host.InstanceFolder(1);
    EXPECT_FALSE(PathExists(folder + "/vantrel.log"));
    EXPECT_FALSE(PathExists(folder + "/vantrel_0.log"));
    EXPECT_FALSE(PathExists(folder + "/vantrel_1.log"));
    EXPECT_EQ(running.Finish(), 0);
    EXPECT_EQ(MaskTimes(ReadFile(folder + "/vantrel.log")),
              "main\r\nmain again\r\nfirst\r\nsecond\r\n" + ServiceSummary(pid, 3));
    for (const char* part : {"/vantrel_0.log", "/vantrel_1.log", "/vantrel_2.log"})
        EXPECT_FALSE(PathExists(folder + part)) << part;
}

TEST(HostLogging, BitmapSnapshotLandsInImgWithItsTag) {
    HostInstall host = InstallHost("viewer");
    HostRun run = RunHost(host, {"bitmap|vantrel.log|-|1|1|24|Frame\\n",
                                 "bitmap|vantrel.log|shot.bmp|3|2|8|named\\n"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.lines, (std::vector<std::string>{"1", "1"}));
    const std::string folder = host.InstanceFolder(1);
    std::string text = ReadFile(folder + "/vantrel.log");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(
        text, match,
        std::regex("^<img src=\"img/(0x[0-9a-f]+_0x[0-9a-f]+_00000000\\.bmp)\" border=\"0\" "
                   "align=\"bottom\" alt=\"\\1\">Frame\r\n")))
        << text;
    EXPECT_EQ(ReadFile(folder + "/img/" + match[1].str()).size(), 58u);
    EXPECT_NE(text.find("<img src=\"img/shot.bmp\" border=\"0\" align=\"bottom\" "
                        "alt=\"shot.bmp\">named\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(folder + "/img/shot.bmp").size(), 14u + 40 + 1024 + 8);
}

TEST(HostLogging, NoOpExportsReturnOneAndTouchNothing) {
    HostInstall host = InstallHost("viewer");
    HostRun run = RunHost(host, {"noop"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, std::vector<std::string>{"9"});
    EXPECT_FALSE(PathExists(host.folder + "/vantrel"));
}

}  // namespace
}  // namespace vantrel::test
