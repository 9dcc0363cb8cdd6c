// The library in a process: its logs' settings, its number's claim, and real hosts via the exports.

#include <deque>
#include <set>

#include "manager/log_service_mgr.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "settings/process_identity.h"
#include "settings/settings_store.h"
#include "support/host.h"
#include "support/service_fixture.h"

namespace vantrel::test {
namespace {

using Lines = std::vector<std::string>;

// Each setting in the bytes after one entry (none: nothing yet); the folder recorded; other types.
TEST(Settings, TheLogFollowsItsSettingsAndRecordsItsFolder) {
    const std::tuple<const char*, uint32_t, const char*> rows[] = {
        {"ShowThreadId", 0, "\r\nF\r\n{\r\n   x\r\n"},
        {"IndentSize", 5, "{\r\n     x\r\n"},
        {"NeedTimeStamp", 0xFFFFFFFE, ", ("},  // negative counts as on
        {"WriteImmediately", 0, nullptr},
        {"WriteImmediately", 7, "\r\nF // tid:0x"},
        {"WriteImmediately", 0xFFFFFFFE, nullptr},
    };
    const std::string sep(1, platform::kPathSeparator), name = "Run_2.Log.txt";
    for (const auto& [setting, value, wanted] : rows) {
        SCOPED_TRACE(std::string(setting) + " " + std::to_string(value));
        UseFreshEnvironment();
        PutLogSetting(kInstancePath, name, setting, value);
        const std::string folder = MakeTempDir("settings") + sep + "f";
        CLogService service;
        ASSERT_EQ(InitService(service, folder + sep, name.c_str()), 1);
        EXPECT_EQ(service.FuncBegin(0, "F") + Log(service, "x\n"), 2);
        const std::string during = ReadFile(folder + sep + name);
        EXPECT_EQ(during.find(wanted ? wanted : "x") == std::string::npos, !wanted) << during;
        EXPECT_EQ(GetValue(ComposeSettingsKeyPath(kInstancePath, name), "LogFolderPath"), folder);
        EXPECT_EQ(service.Close(), 1);
    }
    CLogService noFolder, noStore;
    EXPECT_EQ(InitService(noFolder, "", "none.log"), 0);
    EXPECT_FALSE(GetValue(ComposeSettingsKeyPath(kInstancePath, "none.log"), "LogFolderPath"));
    const std::string key = ComposeSettingsKeyPath(kInstancePath, "odd.log");  // other types
    PutValue(key, "IndentSize", platform::kRegBinary, "\x07\x00", 2);
    PutValue(key, "HtmlDoc", platform::kRegSz, "12345", 5);
    EXPECT_EQ(readSetting(Setting::IndentSize, kInstancePath, "odd.log"), 0xFFFF0007u);
    EXPECT_EQ(readSetting(Setting::HtmlDoc, kInstancePath, "odd.log"), kMissingMarker);
    FailAfter(Fault::RegistryCreate, 0, -1);
    EXPECT_EQ(InitService(noStore, MakeTempDir("settings"), "vantrel.log"), 0);
}

// A claim that fails leaves nothing claimed, and the next attempt claims. Numbers held by others
// are passed over, also when their mutexes fail in between; the claim is recorded.
TEST(InstanceClaim, FaultsFailTheClaimAndLeaveItToALaterAttempt) {
    const std::tuple<Fault, int, bool, bool, int> rows[] = {
        {Fault::RegistrySet, 1, false, false, 1},     // no identifier recorded: mutex released
        {Fault::RegistryCreate, 1, true, false, 1},   // no instance key: the mutex still claims
        {Fault::MutexCreate, -1, false, false, 1},    // no mutex at all: the search ends
        {Fault::ModuleFileName, 1, false, false, 1},  // no path to name the executable by
        {Fault::ProcessTimes, 1, false, false, 1},    // no creation time to identify the process
        {Fault::MutexCreate, 17, true, true, 35},     // numbers 2, 4 ... 34 held
    };
    std::string exe;
    ASSERT_TRUE(platform::GetModuleFileName(platform::GetExeModuleHandle(), &exe));
    const size_t nameAt = exe.rfind(platform::kPathSeparator);
    const std::string keyName = makeProcessKeyName(exe.substr(0, nameAt), exe.substr(nameAt + 1));
    for (const auto& [fault, count, claimed, othersHold, number] : rows) {
        SCOPED_TRACE(static_cast<int>(fault));
        UseFreshEnvironment();
        CLogServiceMgr mgr;
        ASSERT_TRUE(
            mgr.loadDefaultSettings(platform::GetCurrentProcess(), platform::GetCurrentProcessId(),
                                    platform::GetExeModuleHandle(), platform::GetCurrentThread(),
                                    platform::GetCurrentThreadId()));
        std::vector<platform::MutexHandle> held;
        bool existed = false;
        for (int n = 2; othersHold && n <= 34; n += 2)
            held.push_back(platform::CreateNamedMutex(keyName + "/" + makeProcName(n), &existed));
        FailAfter(fault, 0, count);
        EXPECT_EQ(mgr.establishInstance(), claimed);
        platform::testing::ClearFaults();
        if (!claimed) {
            EXPECT_EQ(mgr.readyLevel, 1);
            EXPECT_EQ(mgr.instanceMutex, nullptr);
            ASSERT_TRUE(mgr.establishInstance());
        }
        EXPECT_EQ(mgr.readyLevel, 2);
        EXPECT_EQ(mgr.instanceNumber, number);
        platform::SystemTime created;
        ASSERT_TRUE(platform::GetProcessCreationLocalTime(platform::GetCurrentProcess(), &created));
        const auto identifier = makeIdentity(platform::GetCurrentProcessId(), created);
        EXPECT_EQ(GetValue(makeInstanceKeyPath(mgr.processKeyName, number), "Identifier")
                      .value_or("none"),
                  claimed && !othersHold ? "none" : identifier);
        platform::CloseNamedMutex(mgr.instanceMutex);
        for (platform::MutexHandle handle : held) platform::CloseNamedMutex(handle);
    }
    // The executable's folder and name its instances count under (an extension on Windows).
    // clang-format off
    const struct { const char* path; char separator; bool extension; const char* split; } paths[] = {
        {"C:\\apps\\viewer.exe", '\\', true, "C:\\apps|viewer.exe"}, {"C:\\apps\\viewer", '\\', true, "-"},
        {"viewer.exe", '\\', true, "-"}, {"/usr/bin/viewer", '/', false, "/usr/bin|viewer"},
        {"/usr/bin/", '/', false, "-"}, {"viewer", '/', false, "-"}};
    // clang-format on
    for (const auto& row : paths) {
        std::string folder, name;
        const bool split =
            splitExecutablePath(row.path, row.separator, row.extension, &folder, &name);
        EXPECT_EQ(split ? folder + "|" + name : "-", row.split) << row.path;
    }
}

std::string Hex(const char* format, uint32_t value) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
    return text;
}

// A no-op records the defaults, no file. Each call leaves the file complete, unload adds nothing,
// the next run backs it up; log names in any case are one log, anything but a file name fails.
TEST(Host, DefaultModeKeepsTheFileCompleteAfterEachCallAndTheNextRunBacksItUp) {
    const HostInstall install = InstallHost();
    ASSERT_EQ(RunHost(install, {"noop"}).lines, Lines{"9"});
    const std::string defaultsKey = ComposeSettingsKeyPath(kDefaultsInstancePath, kDefaultsLogName);
    std::string recorded;
    for (const char* name : {"NeedTimeStamp", "ShowThreadId", "CacheSize(KB)", "CreateNewLogFile",
                             "WriteImmediately", "IndentSize", "HtmlDoc", "OutDev"})
        recorded += GetValue(defaultsKey, name).value_or("-");
    const uint32_t builtIn[] = {0, 1, 256, 1, 1, 3, 0, 0};
    EXPECT_EQ(recorded, std::string(reinterpret_cast<const char*>(builtIn), sizeof builtIn));
    EXPECT_FALSE(PathExists(install.InstanceFolder(1)));
    Host host(install);
    const std::string summary = ServiceSummary(host.pid(), 1, host.loadingThreadId());
    const std::string log = install.LogPath("vantrel.log");
    ASSERT_EQ(host.Send("print|12 items\\n"), "1");
    EXPECT_EQ(MaskTimes(ReadFile(log)), "12 items\r\n" + summary);
    EXPECT_FALSE(PathExists(install.LogPath("vantrel_0.log")));
    Lines replies;
    for (const std::string& command :
         Lines{"begin|Trace.log|CScene::Render", "printfdev|TRACE.LOG|7|a\\n",
               "printfdev|trace.log|0|b\\n", "end|Trace.log", "printf|bad name.log|x",
               "printf|bad\\\\name.log|x", "printf|..\\\\up.log|x", "printf|../up.log|x",
               "printf|" + std::string(256, 'a') + "|x", "printf|trace|x",
               "bitmap|vantrel.log|-|Frame\\n|1|1|24", "bitmap|vantrel.log|shot.bmp|named\\n|3|2|8",
               "defaults|d\\n", "print|" + std::string(200000, 'q') + "\\n"})
        replies.push_back(host.Send(command));
    EXPECT_EQ(replies,
              (Lines{"1", "1", "1", "1", "0", "0", "0", "0", "0", "0", "1", "1", "4", "1"}));
    const std::string complete = ReadFile(log);
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(ReadFile(log), complete);
    EXPECT_EQ(MaskTimes(ReadFile(install.LogPath("Trace.log"))),
              Hex("\r\nCScene::Render // tid:0x%08x\r\n{\r\n", host.loadingThreadId()) +
                  "   a\r\n   b\r\n}\r\n" + summary);
    for (const char* name : {"bad name.log", "name.log", "trace", "../up.log"})
        EXPECT_FALSE(PathExists(install.LogPath(name))) << name;
    EXPECT_FALSE(GetValue(makeInstanceKeyPath(install.KeyName(), 1) + "\\bad name.log", "HtmlDoc"));

    auto made = [&](int n) {
        return Hex("0x%x_", host.pid()) + Hex("0x%x_", host.loadingThreadId()) + Hex("%08x.bmp", n);
    };
    std::string expected =
        "12 items\r\n" + ImageTag(made(0)) + "Frame\r\n" + ImageTag("shot.bmp") + "named\r\nd\r\n";
    for (int n = 1; n <= 3; ++n) expected += ImageTag(made(n)) + "d\r\n";
    EXPECT_EQ(MaskTimes(complete), expected + std::string(200000, 'q') + "\r\n" + summary);
    const std::string img = install.LogPath("img") + platform::kPathSeparator;
    EXPECT_EQ(ReadFile(img + made(0)).substr(0, 6), std::string("BM\x3a\0\0\0", 6));
    EXPECT_EQ(ReadFile(img + "shot.bmp").size(), 14u + 40 + 1024 + 8);

    const HostRun second = RunHost(install, {"print|next run\\n"});
    EXPECT_EQ(ReadFile(log + ".bak"), complete);
    EXPECT_EQ(MaskTimes(ReadFile(log)),
              "next run\r\n" + ServiceSummary(second.pid, 1, second.loadingThreadId));
}

// Memory mode merges by thread at unload, the loading thread first; HTML keeps one frame over runs.
TEST(Host, MemoryModeAndContinuedHtmlDocument) {
    // clang-format off
    const struct { const char* setting; Lines commands; int runs, threads; const char *file, *text; } rows[] = {
        {"WriteImmediately", {"thread|print|first\\n", "print|main\\n", "thread|print|second\\n", "print|main again\\n"}, 1, 3, "vantrel.log", "main\r\nmain again\r\nfirst\r\nsecond\r\n"},
        {"HtmlDoc", {"print|run\\n"}, 3, 1, "vantrel.log.htm", "run\r\n"}};
    // clang-format on
    for (const auto& row : rows) {
        UseFreshEnvironment();
        const bool html = std::string(row.setting) == "HtmlDoc";
        PutDefaultSetting(row.setting, html);
        PutDefaultSetting("CreateNewLogFile", !html);
        const HostInstall install = InstallHost();
        std::string head = kHtmlHead, expected;
        if (html) expected = head.replace(head.find("%s"), 2, row.file) + kHtmlBeginBlock;
        for (int run = 0; run < row.runs; ++run) {
            const HostRun result = RunHost(install, row.commands);
            ASSERT_EQ(result.lines, Lines(row.commands.size(), "1"));
            expected += row.text + ServiceSummary(result.pid, row.threads, result.loadingThreadId);
        }
        if (html) expected += std::string(kHtmlEndBlock) + kHtmlClosingLine;
        EXPECT_EQ(MaskTimes(ReadFile(install.LogPath(row.file))), expected);
        for (const char* name : {"vantrel.log", "vantrel_0.log", "vantrel_1.log", "vantrel_2.log"})
            EXPECT_EQ(PathExists(install.LogPath(name)), name == std::string(row.file)) << name;
    }
}

// Numbers are distinct among hosts, freed when one ends or is killed, kept over unload and load.
TEST(Host, InstanceNumbers) {
    auto NumberOf = [](const HostInstall& install, uint32_t pid) {  // the number naming pid, or 0
        for (int n = 1; n <= 16; ++n) {
            const auto id = GetValue(makeInstanceKeyPath(install.KeyName(), n), "Identifier");
            if (id.value_or("").rfind(Hex("0x%x, ", pid), 0) == 0) return n;
        }
        return 0;
    };
    const HostInstall install = InstallHost();
    std::deque<Host> hosts;
    for (int i = 0; i < 4; ++i) hosts.emplace_back(install);
    for (Host& host : hosts) host.Post("noop");
    std::set<int> numbers;  // a reply other than 9 adds a 0
    for (Host& host : hosts)
        numbers.insert(host.Reply() == "9" ? NumberOf(install, host.pid()) : 0);
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4}));
    const HostInstall editor = InstallHost("editor");  // another executable counts on its own
    Host other(editor);
    other.Send("noop");
    EXPECT_EQ(NumberOf(editor, other.pid()), 1);
    const std::set<int> freed = {NumberOf(install, hosts[0].pid()),
                                 NumberOf(install, hosts[1].pid())};
    EXPECT_EQ(hosts[0].Finish(), 0);
    hosts[1].Kill();  // a holder killed outright frees its number at once
    Host third(install), fourth(install);
    for (const char* command : {"print|one\\n", "unload", "load", "print|two\\n"})
        EXPECT_EQ(third.Send(command), "1") << command;
    fourth.Send("noop");
    const int number = NumberOf(install, third.pid());
    EXPECT_EQ((std::set<int>{number, NumberOf(install, fourth.pid())}), freed);
    EXPECT_EQ(ReadFile(install.LogPath("vantrel.log", number)).rfind("two\r\n", 0), 0u);
    EXPECT_EQ(ReadFile(install.LogPath("vantrel.log.bak", number)).rfind("one\r\n", 0), 0u);
}

}  // namespace
}  // namespace vantrel::test
