// A log's files: end blocks, folders, far positions, faults losing nothing, part files, merges.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>

#include "support/service_fixture.h"

namespace vantrel::test {
namespace {

using Text = std::optional<std::string>;

constexpr char kSummary[] = "<summary>\r\n";

// A log whose text goes into its cache directly and whose summary is a fixed text.
class WriterLog : public CLog {
  public:
    using CLog::CreateFolderPath;
    using CLog::FindEndBlock;
    using CLog::positioned;
    using CLog::writePosition;
    void Append(const std::string& text) { cache.Append(text.data(), text.size()); }
    int32_t WriteSummary() override { return WriteRaw(kSummary, sizeof kSummary - 1), 1; }
};

// A fresh folder for a writer log "t.log" or a service's logs.
struct Folder {
    std::string dir = MakeTempDir("logs");
    CLogService log;
    std::string Path(const std::string& name) const { return dir + kSep + name; }
    std::unique_ptr<WriterLog> Open(uint32_t mode) {
        auto log = std::make_unique<WriterLog>();
        EXPECT_EQ(log->Open(1, nullptr, 2, mode, dir.c_str(), "t.log", 1 << 20, 3), 1);
        return log;
    }
    Text Get(const std::string& name) const {
        return PathExists(Path(name)) ? Text(ReadFile(Path(name))) : std::nullopt;
    }
    void Set(const char* setting, uint32_t value, const char* name = "vantrel.log") {
        PutLogSetting(kInstancePath, name, setting, value);
    }
    void Start(const char* name = "vantrel.log") {
        EXPECT_EQ(InitService(log, dir + kSep, name), 1);
    }
};

// The last end block in any case at the search window's edges, else the end of the file. A file
// held by another opener is neither backed up nor opened. Without a folder the text stays.
TEST(LogFileWriter, EndBlockSearchHeldFilesAndFolders) {
    Folder f;
    const std::string block = kHtmlEndBlock, upper = "</PRE></FONT>\r\n<!--VANTREL END--!>\r\n";
    std::vector<std::pair<std::string, size_t>> files = {
        {std::string(70000, 'f'), 70000}, {"tiny", 4}, {"", 0}};
    for (size_t after : {0, 1, 65535, 65536, 65537, 65536 + 20, 65536 + 41, 140000})
        files.emplace_back(
            block + std::string(300, 'f') + (after % 2 ? upper : block) + std::string(after, 'f'),
            block.size() + 300);
    platform::File file;
    for (const auto& [text, at] : files) {
        WriteFile(f.Path("s.htm"), text);
        ASSERT_TRUE(file.Open(f.Path("s.htm"), platform::FileOpenMode::ExistingRead));
        EXPECT_EQ(WriterLog::FindEndBlock(file), at) << text.size();
        file.Close();
    }
    WriteFile(f.Path("t.log"), "in use");
    ASSERT_TRUE(file.Open(f.Path("t.log"), platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(f.Open(0)->OpenFile(), 0);
    file.Close();
    EXPECT_EQ(f.Get("t.log.bak"), Text());
    EXPECT_EQ(f.Get("t.log"), "in use");

    Folder g;
    WriteFile(g.Path("img"), "not a folder");
    auto log = g.Open(0);
    log->Append("kept");
    EXPECT_EQ(log->FlushCache(false), 0);
    EXPECT_EQ(log->GetCache(), "kept");
    EXPECT_FALSE(g.Get("t.log"));
    FailAfter(Fault::CreateDirectory, 0);
    EXPECT_EQ(WriterLog::CreateFolderPath(g.Path("a" + kSep + "b" + kSep)), 0);
    EXPECT_EQ(WriterLog::CreateFolderPath(g.Path("a" + kSep + "b" + kSep)), 1);
    EXPECT_EQ(platform::GetPathKind(g.Path("a" + kSep + "b")), platform::PathKind::Directory);
    for (const char* folder : {static_cast<const char*>(nullptr), ""}) {
        WriterLog none;
        EXPECT_EQ(none.Open(1, nullptr, 2, LogModeDeleteOnClose, folder, "x.log", 0, 3), 0);
        none.Append("text");
        EXPECT_EQ(none.FlushCache(false) + none.Close() + none.OpenFile(), 0);
    }
    EXPECT_FALSE(PathExists("x.log"));
}

// The flush of "second " after "first " meets a fault; far writes stay positioned, no back-up.
TEST(LogCache, AFailedFlushLosesNothingAndPositionsPastFourGibibytesAreUsedWhole) {
    const std::tuple<Fault, int, int32_t, const char*, const char*> rows[] = {
        {Fault::Count, 0, 1, "", "first second <summary>\r\n"},  // the text replaces the summary
        {Fault::FileWrite, 0, 0, "second ", "first "},  // the old summary goes: not finished
        {Fault::FileWrite, 1, 0, "", "first second "},  // a partial summary is cut
        {Fault::FileOpen, 0, 0, "second ", "first <summary>\r\n"},
        {Fault::FileSeek, 0, 0, "second ", "first <summary>\r\n"},
    };
    for (const auto& [fault, skip, result, cache, bytes] : rows) {
        SCOPED_TRACE(bytes);
        Folder f;
        auto log = f.Open(0);
        log->Append("first ");
        ASSERT_EQ(log->FlushCache(true) + log->CloseFile(), 2);
        log->Append("second ");
        if (fault != Fault::Count) FailAfter(fault, skip);
        EXPECT_EQ(log->FlushCache(true), result);
        EXPECT_EQ(log->GetCache(), cache);
        log->GetFileObject().Abort();  // so that Windows lets us read the file
        EXPECT_EQ(f.Get("t.log"), bytes);
        ClearFaults();
        ASSERT_EQ(log->FlushCache(true), 1);
        log->GetFileObject().Abort();
        EXPECT_EQ(f.Get("t.log"), "first second <summary>\r\n");
    }

    Folder f;
    auto log = f.Open(0);
    ASSERT_EQ(log->OpenFile(), 1);
    const uint64_t far = (5ull << 30) + 3;
    for (const auto& [at, text] : {std::pair{far, "far"}, {kNotPositioned - 3, "abc"}}) {
        log->writePosition = at;
        log->positioned = true;
        log->Append(text);
        ASSERT_EQ(log->FlushCache(false), 1);
    }
    ASSERT_EQ(log->CloseFile(), 1);
    log->Append("d");
    ASSERT_EQ(log->CloseFile(), 1);
    EXPECT_FALSE(f.Get("t.log.bak"));
    platform::File file;
    ASSERT_TRUE(file.Open(f.Path("t.log"), platform::FileOpenMode::ExistingRead));
    EXPECT_EQ(file.GetLength(), far + 3);
    char bytes[7] = {};
    file.Seek(kNotPositioned - 3);
    ASSERT_EQ(file.Read(bytes, 4), 4u);
    file.Seek(far);
    ASSERT_EQ(file.Read(bytes + 4, 3), 3u);
    EXPECT_EQ(std::string(bytes, 7), "abcdfar");
}

// No partial HTML head stays; a failed final merge keeps the part file. A first opening failed at
// each file operation in turn: the earlier logs survive, never twice; the next call catches up.
TEST(WriteFaults, FirstOpeningsAndFinalMergesLoseNothing) {
    Folder html, memory;
    html.Set("HtmlDoc", 1);
    html.Start();
    FailAfter(Fault::FileWrite, 0, 1);
    EXPECT_EQ(Log(html.log, "b\n"), 0);
    EXPECT_EQ(ReadFile(html.Path("vantrel.log.htm")), "");
    ASSERT_EQ(Log(html.log, "c\n"), 1);
    const std::string text = ReadFile(html.Path("vantrel.log.htm"));
    EXPECT_EQ(text.find("<HTML>") + CountOf(text, "<HTML>"), 1u) << text;
    EXPECT_NE(text.find("b\r\nc\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 16), "</BODY></HTML>\r\n");
    memory.Set("WriteImmediately", 0, "m.log");
    memory.Start("m.log");
    EXPECT_EQ(Log(memory.log, "kept in memory\n"), 1);
    FailAfter(Fault::FileWrite, 1, -1);  // the part file is written, the service file is not
    EXPECT_EQ(memory.log.Close(), 0);
    ClearFaults();
    const std::string kept = ReadFile(memory.Path("m.log")) + ReadFile(memory.Path("m_0.log"));
    EXPECT_NE(kept.find("kept in memory\r\n"), std::string::npos);

    const std::string older = "older run\r\n", old = "old run\r\n";
    const Fault faults[] = {Fault::FileOpen,   Fault::FileWrite, Fault::FileRead,  Fault::FileSeek,
                            Fault::FileLength, Fault::FileClose, Fault::FileDelete};
    for (int run = 0; run < 2 * 7 * 4; ++run) {
        const uint32_t continues = run / 28;
        SCOPED_TRACE(::testing::Message() << continues << " " << run / 4 % 7 << " " << run % 4);
        Folder s;
        s.Set("CreateNewLogFile", !continues);
        s.Set("HtmlDoc", continues);
        const std::string path = s.Path(continues ? "vantrel.log.htm" : "vantrel.log");
        WriteFile(path, old);
        WriteFile(path + ".bak", older);
        s.Start();
        FailAfter(faults[run / 4 % 7], run % 4, 1);
        const int32_t first = Log(s.log, "x\n");
        ClearFaults();
        const std::string backUp = ReadFile(path + ".bak"), current = ReadFile(path);
        EXPECT_TRUE(backUp == older || (backUp == older + old && !continues)) << backUp;
        EXPECT_TRUE(backUp == older + old || current.rfind(old, 0) == 0) << current;
        EXPECT_TRUE(first != 1 || current.find("x\r\n") == (continues ? old.size() : 0));
        EXPECT_EQ(Log(s.log, "y\n"), 1);
        EXPECT_EQ(ReadFile(path + ".bak"), continues ? older : older + old);
        EXPECT_EQ(ReadFile(path).find("x\r\ny\r\n"), continues ? old.size() : 0);
        EXPECT_EQ(s.log.Close(), 1);
    }
}

// Part files never empty, take over or delete another log's file or an earlier run's.
TEST(LogService, PartFilesLeaveOtherFilesAlone) {
    const std::tuple<uint32_t, bool, bool> rows[] = {
        {1, true, false}, {0, true, false}, {0, false, false}, {0, true, true}};
    for (const auto& [writeImmediately, neighbourIsLog, partFirst] : rows) {
        SCOPED_TRACE(::testing::Message() << writeImmediately << neighbourIsLog << partFirst);
        Folder mine;
        mine.Set("WriteImmediately", writeImmediately, "app.log");
        mine.Set("CacheSize(KB)", 0, "app.log");
        mine.Start("app.log");
        if (!neighbourIsLog) WriteFile(mine.Path("app_0.log"), "earlier run\r\n");
        EXPECT_EQ(Log(mine.log, "mine\n"), 1);
        EXPECT_EQ(partFirst ? Picture(mine.log, "p.bmp", nullptr, "picture\n") : 1, 1);
        CLogService other;
        if (neighbourIsLog) {
            ASSERT_EQ(InitService(other, mine.dir + kSep, "app_0.log"), 1);
            EXPECT_EQ(Log(other, "other\n") + other.Close(), 2);
        }
        EXPECT_EQ(mine.log.Close(), 1);
        const std::string text = ReadFile(mine.Path("app.log"));
        EXPECT_EQ(text.find(partFirst ? "mine\r\n<img" : "mine\r\n\r\nProcess"), 0u) << text;
        EXPECT_EQ(ReadFile(mine.Path("app_0.log"))
                      .rfind(neighbourIsLog ? "other\r\n" : "earlier run\r\n", 0),
                  0u);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mine.dir), {}), 3);
    }
}

// A thread that lives on between tasks; Run returns once its task has run, nullptr ends it.
struct Worker {
    ~Worker() { Run(nullptr), thread.join(); }
    void Run(std::function<void()> next) {
        std::unique_lock<std::mutex> hold(mutex);
        task = std::move(next), pending = true;
        changed.notify_all();
        changed.wait(hold, [this] { return !pending; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> task;
    bool pending = false;
    std::thread thread{[this] {
        std::unique_lock<std::mutex> hold(mutex);
        for (bool more = true; more; pending = false, changed.notify_all()) {
            changed.wait(hold, [this] { return pending; });
            if ((more = static_cast<bool>(task))) task();
        }
    }};
};

// The same random calls, made by the same threads on two services, one rewriting everything.
class MergeDifferentialTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MergeDifferentialTest, IncrementalMergeMatchesFullRewriteAfterEveryCall) {
    const std::string setting = GetParam();
    Folder services[2];  // [0] rewrites everything
    if (!setting.empty()) services[0].Set(GetParam(), 1);
    std::string paths[2];
    for (int i = 0; i < 2; ++i) {
        services[i].Start();
        paths[i] = services[i].Path(setting == "HtmlDoc" ? "vantrel.log.htm" : "vantrel.log");
    }
    services[0].log.UseFullRewrite(true);

    std::mt19937 random(20261204u + static_cast<unsigned>(setting.size()));
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < 3; ++i) workers.push_back(std::make_unique<Worker>());
    platform::SystemTime time{2026, 12, 5, 4, 16, 5, 21, 0};

    for (int step = 0; step < 1200; ++step) {
        time.milliseconds = step % 1000;
        time.second = 21 + step / 1000;
        platform::testing::SetFakeLocalTime(&time);

        // Disturb both files alike; a file kept open between calls is looked for again.
        const std::string content = ReadFile(paths[0]);
        const int disturb = chance(4) ? 1 : chance(4) ? 2 : chance(2) ? 3 : 0;
        const size_t keep = content.empty() ? 0 : random() % content.size();
        for (int i = 0; i < 2 && disturb; ++i) {
            std::error_code ignored;
            if (disturb == 1) std::filesystem::remove(paths[i], ignored);
            if (disturb == 2) std::filesystem::resize_file(paths[i], keep, ignored);
            if (disturb == 3) WriteFile(paths[i], content + "JUNK");
            services[i].log.ReleaseKeptFile();
        }
        if (chance(2)) workers[random() % workers.size()] = std::make_unique<Worker>();

        const int action = static_cast<int>(random() % 100);
        const size_t thread = random() % (workers.size() + 1);  // the last one: this thread
        const int number = static_cast<int>(random() % 100000);
        const std::string image = "i" + std::to_string(step) + ".bmp";
        const std::string scope = "Scope" + std::to_string(number % 7) + "\n";
        const std::string pad(number % 8 ? 0 : 400, '.');  // longer than the summary it moves
        // A failed open, write, seek or close: the call fails and the next merge catches up.
        const bool injected = chance(3);
        const Fault fault = std::vector<Fault>{Fault::FileOpen, Fault::FileWrite, Fault::FileSeek,
                                               Fault::FileClose}[random() % 4];
        int32_t results[2] = {};
        std::string kept[2];  // what the files held before a call that fails
        for (int i = 0; i < 2 && injected; ++i) {
            kept[i] = ReadFile(paths[i]);
            services[i].log.ReleaseKeptFile();  // opened anew
        }
        auto both = [&] {
            for (int i = 0; i < 2; ++i) {
                if (injected) FailAfter(fault, 0);
                CLogService& s = services[i].log;
                results[i] = action < 50
                                 ? Log(s, "entry %d of step %d%s\n", number, step, pad.c_str())
                             : action < 58 ? Log(s, "open line %d ", number)
                             : action < 60 ? Log(s, "%s", "")
                             : action < 75 ? s.FuncBegin(0, scope.c_str())
                             : action < 90 ? s.FuncEnd(0)
                             : action < 95 ? Picture(s, image.c_str(), nullptr, "pic %d\n", number)
                                           : (s.Commit(), 1);
                FailAfter(fault, 0, 0);
            }
        };
        thread == workers.size() ? both() : workers[thread]->Run(both);

        SCOPED_TRACE("step " + std::to_string(step) + ", action " + std::to_string(action));
        ASSERT_EQ(results[0], results[1]);
        // A failed merge is never reported as success (no close between calls on POSIX).
        const bool closes = !platform::kLogFilesStayOpenBetweenCalls || fault != Fault::FileClose;
        ASSERT_TRUE(!injected || action >= 50 || !closes || results[0] == 0);
        ASSERT_EQ(PathExists(paths[0]), PathExists(paths[1]));
        // A failed call may leave a write part way (a full disk), but every entry the file held
        // stays; one that succeeded leaves the file complete, as a full rewrite does.
        for (int i = 0; i < 2 && injected; ++i) {
            const std::string now = ReadFile(paths[i]);
            for (size_t at = kept[i].find("entry "); at != std::string::npos;
                 at = kept[i].find("entry ", at + 1)) {
                ASSERT_NE(now.find(kept[i].substr(at, kept[i].find('\n', at) - at)), now.npos) << i;
            }
        }
        if (results[0] == 1) {
            ASSERT_EQ(ReadFile(paths[0]), ReadFile(paths[1]));
        }
        char line[48];  // the summary's time, patched within a second
        std::snprintf(line, sizeof line, "Log Time: 2026/12/04 16:05:%02d:%03d\r\n", time.second,
                      time.milliseconds);
        ASSERT_TRUE(results[0] != 1 || action >= 50 || CountOf(ReadFile(paths[0]), line)) << line;
    }
    EXPECT_EQ(services[0].log.Close(), services[1].log.Close());
    EXPECT_EQ(ReadFile(paths[0]), ReadFile(paths[1]));
}

INSTANTIATE_TEST_SUITE_P(Modes, MergeDifferentialTest,
                         ::testing::Values("", "HtmlDoc", "NeedTimeStamp"), [](const auto& info) {
                             return *info.param ? std::string(info.param) : "Text";
                         });

}  // namespace
}  // namespace vantrel::test
