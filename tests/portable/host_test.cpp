// End to end through the exports: real hosts load the library, which sets up its defaults,
// claims an instance number among the running hosts of the same executable, and logs.
#include "support/host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform_config.h"
#include "settings/process_identity.h"
#include "settings/settings_store.h"
#include "support/log_text.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

using Lines = std::vector<std::string>;
const std::string kSep(1, platform::kPathSeparator);

std::string Summary(const Host& host, int threads) {
    return ServiceSummary(host.pid(), threads, host.loadingThreadId());
}
std::string Summary(const HostRun& run, int threads) {
    return ServiceSummary(run.pid, threads, run.loadingThreadId);
}

// The instance number whose record names this process id, or 0.
int NumberOf(const HostInstall& install, uint32_t pid) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "0x%x, ", static_cast<unsigned>(pid));
    for (int n = 1; n <= 16; ++n) {
        const auto identifier =
            GetValue(makeInstanceKeyPath(install.KeyName(), n), "Identifier").value_or("");
        if (identifier.rfind(prefix, 0) == 0) return n;
    }
    return 0;
}

TEST(Host, FirstLoadRecordsDefaultsAndIdentityAndNoOpsTouchNothing) {
    const HostInstall install = InstallHost();
    const HostRun run = RunHost(install, {"noop"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, Lines{"9"});
    ExpectBuiltInDefaults(ComposeSettingsKeyPath(kDefaultsInstancePath, kDefaultsLogName));
    uint32_t type = 0;
    const auto identifier =
        GetValue(makeInstanceKeyPath(install.KeyName(), 1), "Identifier", &type);
    EXPECT_EQ(identifier.value_or("").rfind("0x", 0), 0u);
    EXPECT_EQ(type, platform::kRegSz);
    EXPECT_FALSE(PathExists(install.InstanceFolder(1)));
}

// Each call leaves the file complete and closed; the next run's back-up holds it.
TEST(Host, DefaultModeKeepsTheFileCompleteAfterEachCallAndTheNextRunBacksItUp) {
    const HostInstall install = InstallHost();
    Host host(install);
    ASSERT_EQ(host.Send("print|12 items\\n"), "1");
    const std::string log = install.LogPath("vantrel.log");
    const std::string expected = "12 items\r\n" + Summary(host, 1);
    EXPECT_EQ(MaskTimes(ReadFile(log)), expected);
    EXPECT_FALSE(PathExists(install.LogPath("vantrel_0.log")));
    EXPECT_TRUE(PathExists(install.LogPath("img")));
    const std::string logKey = makeInstanceKeyPath(install.KeyName(), 1) + "\\vantrel.log";
    for (int i = 0; i < kSettingCount; ++i) {
        const char* name = GetSettingInfo(static_cast<Setting>(i)).valueName;
        EXPECT_EQ(GetValue(logKey, name).value_or("").size(), 4u) << name;
    }
    EXPECT_EQ(GetValue(logKey, "LogFolderPath"), install.InstanceFolder(1));
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(MaskTimes(ReadFile(log)), expected) << "unload adds nothing";

    const HostRun second = RunHost(install, {"print|next run\\n"});
    EXPECT_EQ(MaskTimes(ReadFile(log + ".bak")), expected);
    EXPECT_EQ(MaskTimes(ReadFile(log)), "next run\r\n" + Summary(second, 1));
}

TEST(Host, FunctionScopesAndDevicesGiveTheSameEntries) {
    const HostInstall install = InstallHost();
    const HostRun run =
        RunHost(install, {"begin|trace.log|CScene::Render", "printfdev|trace.log|7|a\\n",
                          "printfdev|trace.log|0|b\\n", "end|trace.log"});
    EXPECT_EQ(run.lines, (Lines{"1", "1", "1", "1"}));
    char head[64];
    std::snprintf(head, sizeof head, "\r\nCScene::Render // tid:0x%08x\r\n{\r\n",
                  static_cast<unsigned>(run.loadingThreadId));
    EXPECT_EQ(MaskTimes(ReadFile(install.LogPath("trace.log"))),
              head + std::string("   a\r\n   b\r\n}\r\n") + Summary(run, 1));
}

// Names that differ in case are one log; names that are not a plain file name fail the call
// and leave neither file nor settings key.
TEST(Host, LogNames) {
    struct Case {
        std::string name, result;
    };
    const Case cases[] = {
        {"Trace.log", "1"},    {"TRACE.LOG", "1"},           {"bad name.log", "0"},
        {"bad-name.log", "0"}, {"bad\\\\name.log", "0"},     {"..\\\\up.log", "0"},
        {"../up.log", "0"},    {std::string(256, 'a'), "0"}, {"trace", "0"},
    };
    const HostInstall install = InstallHost();
    Host host(install);
    for (const Case& c : cases)
        EXPECT_EQ(host.Send("printf|" + c.name + "|" + c.name + "\\n"), c.result) << c.name;
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(MaskTimes(ReadFile(install.LogPath("Trace.log"))),
              "Trace.log\r\nTRACE.LOG\r\n" + Summary(host, 1));
    for (const char* name : {"bad name.log", "bad-name.log", "name.log", "trace"})
        EXPECT_FALSE(PathExists(install.LogPath(name))) << name;
    EXPECT_FALSE(PathExists(install.InstanceFolder(1) + kSep + ".." + kSep + "up.log"));
    EXPECT_FALSE(GetValue(makeInstanceKeyPath(install.KeyName(), 1) + "\\bad name.log", "HtmlDoc"));
}

TEST(Host, HtmlDocumentKeepsOneFrameAcrossContinuedRuns) {
    PutDefaultSetting("HtmlDoc", 1);
    PutDefaultSetting("CreateNewLogFile", 0);
    const HostInstall install = InstallHost();
    for (int run = 0; run < 3; ++run)
        ASSERT_EQ(RunHost(install, {"print|run " + std::to_string(run) + "\\n"}).lines, Lines{"1"});
    const std::string text = ReadFile(install.LogPath("vantrel.log.htm"));
    EXPECT_FALSE(PathExists(install.LogPath("vantrel.log")));
    EXPECT_EQ(text.rfind("<HTML>\r\n<HEAD>\r\n", 0), 0u);
    EXPECT_EQ(CountOf(text, "<TITLE>vantrel.log.htm</TITLE>"), 1);
    EXPECT_EQ(CountOf(text, "<!--vantrel begin--!>"), 1);
    EXPECT_EQ(CountOf(text, "<!--vantrel end--!>"), 1);
    EXPECT_EQ(CountOf(text, "There are 1 thread(s)"), 3);
    const size_t r0 = text.find("run 0\r\n"), r1 = text.find("run 1\r\n"),
                 r2 = text.find("run 2\r\n");
    ASSERT_NE(r2, std::string::npos);
    EXPECT_LT(r0, r1);
    EXPECT_LT(r1, r2);
    const std::string tail = "</pre></font>\r\n<!--vantrel end--!>\r\n</BODY></HTML>\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(Host, MemoryModeMergesThreadsByFirstEntryAtUnloadAndLeavesNoPartFiles) {
    PutDefaultSetting("WriteImmediately", 0);
    const HostInstall install = InstallHost();
    Host host(install);
    for (const char* command : {"print|main\\n", "thread|print|first\\n", "thread|print|second\\n",
                                "print|main again\\n"})
        ASSERT_EQ(host.Send(command), "1") << command;
    for (const char* name : {"vantrel.log", "vantrel_0.log", "vantrel_1.log"})
        EXPECT_FALSE(PathExists(install.LogPath(name))) << name << " before unload";
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(MaskTimes(ReadFile(install.LogPath("vantrel.log"))),
              "main\r\nmain again\r\nfirst\r\nsecond\r\n" + Summary(host, 3));
    for (const char* name : {"vantrel_0.log", "vantrel_1.log", "vantrel_2.log"})
        EXPECT_FALSE(PathExists(install.LogPath(name))) << name << " after unload";
}

TEST(Host, BitmapSnapshotLandsInImgWithItsTag) {
    const HostInstall install = InstallHost();
    const HostRun run = RunHost(install, {"bitmap|vantrel.log|-|Frame\\n|1|1|24",
                                          "bitmap|vantrel.log|shot.bmp|named\\n|3|2|8"});
    EXPECT_EQ(run.lines, (Lines{"1", "1"}));
    char generated[64];
    std::snprintf(generated, sizeof generated, "0x%x_0x%x_00000000.bmp",
                  static_cast<unsigned>(run.pid), static_cast<unsigned>(run.loadingThreadId));
    const std::string text = ReadFile(install.LogPath("vantrel.log"));
    EXPECT_EQ(text.rfind(std::string("<img src=\"img/") + generated +
                             "\" border=\"0\" align=\"bottom\" alt=\"" + generated + "\">Frame\r\n",
                         0),
              0u)
        << text;
    const std::string img = install.LogPath("img") + kSep;
    EXPECT_EQ(ReadFile(img + generated).substr(0, 6), std::string("BM\x3a\0\0\0", 6));
    EXPECT_NE(text.find("<img src=\"img/shot.bmp\" border=\"0\" align=\"bottom\" "
                        "alt=\"shot.bmp\">named\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(img + "shot.bmp").size(), 14u + 40 + 1024 + 8);
}

// Numbers are held while a host runs, freed when it ends or is killed, and distinct among
// hosts started together; another executable counts on its own.
TEST(Host, InstanceNumbers) {
    const HostInstall install = InstallHost();
    std::vector<std::unique_ptr<Host>> hosts;
    for (int i = 0; i < 4; ++i) hosts.push_back(std::make_unique<Host>(install));
    for (auto& host : hosts) host->Post("noop");
    std::set<int> numbers;
    for (auto& host : hosts) {
        EXPECT_EQ(host->Reply(), "9");
        numbers.insert(NumberOf(install, host->pid()));
    }
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4}));
    const HostInstall editor = InstallHost("editor");
    Host other(editor);
    other.Send("noop");
    EXPECT_EQ(NumberOf(editor, other.pid()), 1);

    const std::set<int> freed = {NumberOf(install, hosts[0]->pid()),
                                 NumberOf(install, hosts[1]->pid())};
    EXPECT_EQ(hosts[0]->Finish(), 0);
    hosts[1]->Kill();  // a holder killed outright frees its number at once
    Host third(install), fourth(install);
    third.Send("noop");
    fourth.Send("noop");
    EXPECT_EQ((std::set<int>{NumberOf(install, third.pid()), NumberOf(install, fourth.pid())}),
              freed);
}

TEST(Host, UnloadAndLoadAgainTakesTheSameNumberBack) {
    const HostInstall install = InstallHost();
    const HostRun run = RunHost(install, {"print|one\\n", "unload", "load", "print|two\\n"});
    EXPECT_EQ(run.lines, (Lines{"1", "1", "1", "1"}));
    EXPECT_FALSE(PathExists(install.InstanceFolder(2)));
    EXPECT_EQ(ReadFile(install.LogPath("vantrel.log")).rfind("two\r\n", 0), 0u);
    EXPECT_EQ(ReadFile(install.LogPath("vantrel.log.bak")).rfind("one\r\n", 0), 0u);
}

}  // namespace
}  // namespace vantrel::test
