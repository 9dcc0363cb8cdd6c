// What a log writes and measures: entry text byte for byte and its summary block; conversions and
// time texts against printf; bitmap snapshots, their files and names; the stopwatch timers.

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <sstream>
#include <utility>

#include "log/common_conversions.h"
#include "log/entry_text.h"
#include "log/time_text.h"
#include "support/service_fixture.h"
#include "timer/clock_calibration.h"
#include "timer/tick_scale.h"
#include "timer/timer_table.h"

namespace vantrel::test {
namespace {

const platform::SystemTime kTime{2026, 12, 5, 4, 16, 5, 21, 31};
constexpr uint32_t kTid = LogModeThreadId, kStamp = LogModeTimeStamp;

// A log whose text stays in its cache, with a folder and its img folder for snapshots.
class FormatLog : public CLog {
  public:
    explicit FormatLog(uint32_t modeBits = 0, int32_t indent = 3, bool withFolder = false) {
        lock = std::make_unique<platform::CriticalSection>();
        mode = modeBits | LogModeNoFileOutput;
        indentSize = indent, processId = 0x1F4, threadId = 0xA1C;
        platform::testing::SetFakeLocalTime(&kTime);
        if (!withFolder) return;
        root = MakeTempDir("snapshot");
        std::filesystem::create_directory(root + kSep + "img");
        folder = root + kSep;
    }
    std::string Image(const std::string& name) const { return root + kSep + "img" + kSep + name; }
    using CLog::AppendImageTag;
    using CLog::AppendText;
    using CLog::cache;
    using CLog::file;
    using CLog::folder;
    using CLog::GetIndent;
    using CLog::indentLevel;
    std::string root;
};

// Steps: "B<name>" begin, "E" end, "P<text>" printf("%s", text), "Z" printf("ab%cde\n", 0), "N"
// printf(nullptr), "Q<n>" n letters and LF, "I<n>" indent level, "T<image>|<caption>" image tag,
// "C<text>" cache set, "A<text>" appended, "G<level>" indent width, "S" summary written to a file;
// each returns 1, or 0 after "!". Bytes: what "G" and "S" give, then the cache.
TEST(Entries, ScriptsGiveTheirBytes) {
    // clang-format off
    const std::string kTag = ImageTag("a.bmp");
    auto Qs = [](size_t n, const char* prefix = "") { return prefix + std::string(n, 'q') + "\r\n"; };
    constexpr char kP[] = "(16:05:21:031) ";
    const std::string kBig = std::string(1234567, 'z') + "y" + std::string(2 << 20, 'z');
    const std::string kSummary = "\r\nProcess ID: 0x1f4\r\nThe thread ID is 0x00000a1c\r\nLog Time: 2026/12/04 16:05:21:031\r\n" + std::string(72, '/') + "\r\n\r\n";
    constexpr int32_t kNearMax = INT_MAX - 5;
    const std::vector<std::string> k300Entries(300, "Q999");
    const struct { const char* name; uint32_t mode; int32_t indent; std::vector<std::string> script; std::string bytes; } rows[] = {
        {"NestedWithThreadIdAndStamp", kTid | kStamp, 3, {"BCScene::Render", "P12 items\n", "BCScene::DrawItem\r\n", "E", "E"},
            "\r\nCScene::Render // tid:0x00000a1c, (16:05:21:031)\r\n{\r\n   (16:05:21:031) 12 items\r\n"
            "   CScene::DrawItem // tid:0x00000a1c, (16:05:21:031)\r\n   {\r\n   }\r\n}\r\n"},
        {"LineEnds", 0, 3, {"Pa\n", "Pb\r\n", "Pc\nd\n", "Px", "P\n", "Py\r", "P\n", "P\n"}, "a\r\nb\r\nc\nd\r\nx\r\ny\r\n\r\n"},  // only a piece's final LF becomes CR LF; a CR pairs with the next LF
        {"OpenLinesContinue", 0, 3, {"I1", "Pabc", "Pdef\n"}, "   abc   def\r\n"},
        {"BeginClosesAnOpenLine", 0, 3, {"Pabc", "BF", "Pabc", "E"}, "abc\r\nF\r\n{\r\n   abc\r\n}\r\n"},
        {"IndentOnlyWhilePositive", 0, 3, {"E", "E", "Px\n", "BA", "BB", "BC", "Py\n"}, "\r\n}\r\n}\r\nx\r\nA\r\n{\r\nB\r\n{\r\nC\r\n{\r\n   y\r\n"},
        {"IndentSizeZeroNamesLoseCrLfOrCr", kTid, 0, {"P\n", "BF\r\n", "BG\r", "Px\n"}, "\r\nF // tid:0x00000a1c\r\n{\r\nG // tid:0x00000a1c\r\n{\r\nx\r\n"},
        {"NameLosesOneLf", kTid, 3, {"P\n", "BF\n\n"}, "\r\nF\r\n // tid:0x00000a1c\r\n{\r\n"},
        {"EmptyName", kTid | kStamp, 3, {"B"}, "\r\n // tid:0x00000a1c, (16:05:21:031)\r\n{\r\n"},
        {"StampOnlySuffix", kStamp, 3, {"BF"}, "\r\nF, (16:05:21:031)\r\n{\r\n"},
        {"TextAsGiven", LogModeHtml, 3, {"Boperator<&>%s%n%d", "P<b>&amp;</b> %%\n"}, "\r\noperator<&>%s%n%d\r\n{\r\n   <b>&amp;</b> %%\r\n"},  // a name's % is no conversion; markup unescaped
        {"CutAtNul", 0, 3, {"Z", "P\n", "!N"}, "ab\r\n"},  // its line end judged at the NUL
        {"ImageTag", 0, 3, {"I1", "Ta.bmp|Frame\n"}, "   " + kTag + "Frame\r\n"},
        {"BareImageTag", 0, 3, {"P\n", "Ta.bmp|", "BF"}, "\r\n" + kTag + "F\r\n{\r\n"},  // the line state stays
        {"Sizes", 0, 3, {"Q1023", "Q1021", "Q1022", "Q1024"}, Qs(1023) + Qs(1021) + Qs(1022) + Qs(1024)},  // the first fills a new cache's room exactly
        {"StampedSizes", kStamp, 3, {"Q1008", "Q1006", "Q1007", "Q1009"}, Qs(1008, kP) + Qs(1006, kP) + Qs(1007, kP) + Qs(1009, kP)},
        {"ThreeMebibytes", 0, 3, {"P" + kBig + "\n", "Pz"}, kBig + "\r\nz"},
        {"PastTheResidentStretches", 0, 3, k300Entries, [&] { std::string all; for (int i = 0; i < 300; ++i) all += Qs(999); return all; }()},  // a large text's room is made resident ahead, a stretch at a time
        {"WidthSaturates", 0, 0x40000000, {"G2", "G-3", "I2", "!BF", "!Px\n", "!E"}, "2147483647;-2147483648;"},  // an impossible width refuses every append
        {"CacheToItsLimit", 0, kNearMax, {"I1", "Cx", "Aabcd"}, "xabcd"},  // the cache stops at INT_MAX, CR and width included
        {"CachePastItsLimit", 0, kNearMax, {"I1", "Cxy", "!Aabcd"}, "xy"},
        {"CrPastTheLimit", 0, kNearMax, {"I1", "Cx", "!Aabc\n"}, "x"},
        {"Summary", 0, 3, {"S", "Px", "BF"}, kSummary + "x\r\nF\r\n{\r\n"},  // straight to the file, past the cache and its line state
        {"HtmlSummary", LogModeHtml, 3, {"S", "Px", "BF"}, kSummary + kHtmlEndBlock + kHtmlClosingLine + "x\r\nF\r\n{\r\n"}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FormatLog log(row.mode, row.indent);
        std::string written;
        for (std::string step : row.script) {
            const bool fails = step[0] == '!';
            if (fails) step.erase(0, 1);
            const std::string arg = step.substr(1);
            const size_t bar = arg.find('|');
            int32_t result = 1;
            const char kind = step[0];
            if (kind == 'B') result = log.FuncBegin(7, arg.c_str());
            if (kind == 'E') result = log.FuncEnd(-1);
            if (kind == 'P') result = Log(log, "%s", arg.c_str());
            if (kind == 'Z') result = Log(log, "ab%cde\n", 0);
            if (kind == 'N') result = Log(log, nullptr);
            if (kind == 'Q') result = Log(log, "%s\n", std::string(std::stoul(arg), 'q').c_str());
            if (kind == 'I') log.indentLevel = std::stoi(arg);
            if (kind == 'T')
                result = log.AppendImageTag(arg.substr(0, bar).c_str(), arg.c_str() + bar + 1,
                                            int32_t(arg.size() - bar - 1), true);
            if (kind == 'C') log.cache.Append(arg.data(), arg.size());  // on an empty cache
            if (kind == 'A') result = log.AppendText(arg.c_str(), int32_t(arg.size()), false);
            if (kind == 'G') written += std::to_string(log.GetIndent(std::stoi(arg))) + ";";
            if (kind == 'S') {
                const std::string path = MakeTempDir("summary") + kSep + "s.log";
                EXPECT_TRUE(log.file.Open(path, platform::FileOpenMode::CreateOrEmptyReadWrite));
                result = log.WriteSummary();
                log.file.Close();
                written += ReadFile(path);
            }
            EXPECT_EQ(result, fails ? 0 : 1) << step;
        }
        EXPECT_EQ(written + std::string(log.GetCache()), row.bytes);
    }
}

// Ours with `size` bytes of room against the C runtime's; "-" where ours leaves it to the runtime.
// Either way the entry's text (ours, else the runtime's on the same arguments) is the runtime's.
std::string Compared(size_t size, const char* format, ...) {
    char ours[256], runtime[256];
    va_list args, copy, entry;
    va_start(args, format);
    va_copy(copy, args);
    va_copy(entry, args);
    const int result = FormatCommonConversions(ours, size, format, args);
    const int length = std::vsnprintf(runtime, sizeof runtime, format, copy);
    EntryText text;
    const bool formatted = text.Format(false, format, entry);
    va_end(entry);
    va_end(copy);
    va_end(args);
    const std::string theirs = length < 0 ? "<fails>" : std::string(runtime, size_t(length));
    const std::string whole = formatted ? std::string(text.data(), text.length()) : "<fails>";
    if (whole != theirs) return "entry " + whole + " != " + theirs;
    const std::string mine = result < 0 ? "-" : std::string(ours, size_t(result));
    return result < 0 ? mine : mine == theirs ? "same" : mine + " != " + theirs;
}

TEST(Printf, CommonConversionsAndTimeTextsGiveWhatPrintfGives) {
    // clang-format off
    const std::pair<std::string, const char*> rows[] = {
        {Compared(256, "%d %i", INT_MIN, INT_MAX), "same"},                  // most negative exact
        {Compared(256, "%ld %lu %lx", LONG_MIN, ULONG_MAX, 0x7FL), "same"},  // the platform's long
        {Compared(256, "%d|%u|%x", 0, 0u, 0u), "same"},                      // zero keeps its digit
        {Compared(256, "%d %d %d %u", 9, 10, 99, 100u), "same"},             // digit pairs' edges
        {Compared(256, "%d %ld %i", -1, -1L, -9), "same"},                   // small negatives signed
        {Compared(256, "%u %x %X", UINT_MAX, 0xBEEFu, 0xBEEFu), "same"},     // both hex cases
        {Compared(256, "100%% [%c%c]", 'o', 'k'), "same"},                   // percent and chars
        {Compared(256, "%s%s|%s", "", "tail", "\xE9t\xE9"), "same"},         // empty, high-bit
        {Compared(12, "%s", "exactly 11c"), "same"},                         // room to the last byte
        {Compared(256, "%5d", 1), "-"},                                      // width
        {Compared(256, "%.3s", "abcdef"), "-"},                              // precision
        {Compared(256, "%lld", 1LL), "-"},                                   // not every runtime's
        {Compared(256, "%s", nullptr), "-"},                                 // "(null)" is theirs
        {Compared(256, "trailing %"), "-"},                                  // unfinished
        {Compared(11, "%s", "exactly 11c"), "-"},                            // no room for the NUL
        {Compared(4, "%d", 12345), "-"},                                     // digits that do not fit
        {Compared(256, "%d %hhd %hd", 7, 300, 70000), "-"},                        // narrower than int
        {Compared(256, "%s %zu %jd %td", "x", SIZE_MAX, INTMAX_MIN, ptrdiff_t{-1}), "-"},
        {Compared(256, "%x %e %F %g %a %Lf", 7u, 1e300, -0.0, 1e-5, 1.0, 1.5L), "-"},  // floating point
        {Compared(256, "%f %f %f", 1.0 / 0.0, -1.0 / 0.0, 0.0 / 0.0), "-"},     // not numbers
        {Compared(256, "%-*.*s|%+08.3f|%#x|% d|%'d|%o", 12, 3, "abcdef", 3.14159, 255u, 5, 1234567, 8u), "-"},
        {Compared(256, "%3$s %2$s %1$s", "a", "b", "c"), "-"},                    // positions
        {Compared(256, "%ls|%p|%c", L"wide", static_cast<const void*>("p"), 0xff), "-"},
    };
    // Wider than the widths: printf widens, so must the fast path; values never from a clock.
    const platform::SystemTime times[] = {
        {2026, 12, 5, 4, 16, 5, 21, 123}, {2026, 1, 4, 1, 0, 0, 0, 0}, {1999, 12, 5, 31, 23, 59, 59, 999}, {7, 2, 0, 3, 4, 5, 6, 7},
        {12345, 123, 0, 100, 100, 100, 100, 1000}, {-1, -2, 0, 3, -4, 5, -6, -7}, {2026, 5, 0, 6, 7, 8, 9, -10},
        {2147483647, 5, 0, 6, 7, 8, 9, 2147483647}};
    // clang-format on
    for (const auto& [compared, expected] : rows) EXPECT_EQ(compared, expected);
    for (const platform::SystemTime& t : times) {
        char ours[96], theirs[128];
        std::snprintf(theirs, sizeof theirs, "%02d:%02d:%02d:%03d", t.hour, t.minute, t.second,
                      t.milliseconds);
        EXPECT_EQ(std::string(ours, FormatClockTime(ours, t)), theirs);
        std::snprintf(theirs, sizeof theirs, "Log Time: %04d/%02d/%02d %02d:%02d:%02d:%03d\r\n",
                      t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds);
        EXPECT_EQ(std::string(ours, FormatLogTimeLine(ours, t)), theirs);
    }
}

std::string Le(uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

// Header fields and bytes after it -> file size (0: refused), pixel offset, the caller's image size
// after. Names stay in img; markup or a cut snapshot makes no file or entry; no folder, no file.
TEST(BitmapSnapshot, LayoutsNamesAndFailures) {
    // clang-format off
    const struct { const char* name; uint32_t headerSize, width, height, bitCount, compression, imageSize, colorsUsed; size_t bodyBytes; uint32_t fileSize, bitsOffset, storedImageSize; } rows[] = {
        {"Rgb", 40, 1, 1, 24, 0, 0, 0, 4, 58, 54, 4},
        {"EightBits", 40, 3, 2, 8, 0, 0, 0, 1024 + 8, 1086, 1078, 8},  // colour table as the bits allow or colours used say; rows padded
        {"FourBitsThreeColours", 40, 8, 1, 4, 0, 0, 3, 12 + 4, 70, 66, 4},
        {"OneBit", 40, 33, 1, 1, 0, 0, 0, 8 + 8, 70, 62, 8},
        {"Rle8", 40, 100, 50, 8, 1, 10, 0, 1024 + 10, 1088, 1078, 10},  // run lengths keep the caller's image size
        {"Rle4", 40, 100, 50, 4, 2, 10, 0, 64 + 10, 128, 118, 10},
        {"TopDown", 40, 2, uint32_t(-3), 24, 0, 0, 0, 24, 78, 54, 24},  // as many rows as |height|, which stays negative
        {"BitFields", 40, 2, 2, 16, 3, 0, 0, 12 + 8, 74, 66, 8},  // masks between header and pixels
        {"AlphaBitFields", 40, 1, 2, 32, 6, 0, 0, 16 + 8, 78, 70, 8},
        {"CoreHeader", 12, 1, 1, 24, 0, 0, 0, 4, 0, 0, 0},
        {"NegativeWidth", 40, uint32_t(-1), 1, 24, 0, 0, 0, 4, 0, 0, 0},
        {"RowBitsPast32Bits", 40, 0x7FFFFFFF, 1, 8, 0, 0, 0, 0, 0, 0, 0},
        {"ImagePast32Bits", 40, 1024, 0x100000, 32, 0, 0, 0, 0, 0, 0, 0},
        {"TopDownImagePast32Bits", 40, 1024, uint32_t(-0x100000), 32, 0, 0, 0, 0, 0, 0, 0},
        {"LowestHeight", 40, 32, 0x80000000u, 1, 0, 0, 0, 0, 0, 0, 0},
        {"FilePast32Bits", 40, 1, 0x3FFFFFFF, 32, 0, 0, 0, 0, 0, 0, 0},
        {"ColoursPastTheBitCount", 40, 1, 1, 8, 0, 0, 257, 0, 0, 0, 0},
        {"ColoursPastA16BitTable", 40, 1, 1, 8, 0, 0, 0x40000000, 0, 0, 0, 0},
        {"ColoursOn24Bits", 40, 1, 1, 24, 0, 0, 0x4000, 0, 0, 0, 0},
        {"RunLengthsWithoutSize", 40, 1, 1, 8, 1, 0, 0, 1024, 0, 0, 0},
        {"RunLengthsPast32Bits", 40, 1, 1, 8, 1, 0xFFFFFFF0u, 0, 0, 0, 0, 0}};
    // clang-format on
    for (const auto& c : rows) {
        SCOPED_TRACE(c.name);
        std::string dib = Le(c.headerSize) + Le(c.width) + Le(c.height) +
                          Le(1u | c.bitCount << 16) + Le(c.compression) + Le(c.imageSize) +
                          Le(2835) + Le(2835) + Le(c.colorsUsed) + Le(0);
        for (size_t i = 0; i < c.bodyBytes; ++i) dib += static_cast<char>(i * 7 + 1);
        dib += std::string(16, '\xEE');
        FormatLog log(0, 3, true);
        EXPECT_EQ(Picture(log, "shot.bmp", dib.data(), "x"), 1);
        EXPECT_EQ(log.GetCache(), ImageTag("shot.bmp") + "x");
        EXPECT_TRUE(PathExists(log.Image("shot.bmp")));
        EXPECT_EQ(dib.substr(20, 4), Le(c.fileSize ? c.storedImageSize : c.imageSize));
        EXPECT_EQ(ReadFile(log.Image("shot.bmp")), c.fileSize ? "BM" + Le(c.fileSize) + Le(0) +
                                                                    Le(c.bitsOffset) +
                                                                    dib.substr(0, c.fileSize - 14)
                                                              : "");
    }

    FormatLog log(0, 3, true);
    std::filesystem::create_directory(log.Image("sub"));
    const char rgb[44] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24};
    // clang-format off
    const struct { const char* name; int32_t result; Fault fault = Fault::Count; int skip = 0; } names[] = {
        {"../escaped.bmp", 1}, {"sub/inner.bmp", 1}, {"sub\\inner.bmp", 1}, {"..", 1}, {".", 1}, {"", 1}, {"/tmp/absolute.bmp", 1},
        {"x\" onerror=\"y.bmp", 0}, {"a<b.bmp", 0}, {"a>b.bmp", 0}, {"a&amp;b.bmp", 0},
        {"w0.bmp", 0, Fault::FileWrite, 0}, {"w1.bmp", 0, Fault::FileWrite, 1}, {"c0.bmp", 0, Fault::FileClose, 0}};
    // clang-format on
    for (const auto& row : names) {
        const std::string before(log.GetCache());
        if (row.fault != Fault::Count) FailAfter(row.fault, row.skip);
        EXPECT_EQ(Picture(log, row.name, rgb, "x"), row.result) << row.name;
        platform::testing::ClearFaults();
        EXPECT_EQ(log.GetCache(), before + (row.result ? ImageTag(row.name) + "x" : ""))
            << row.name;
        EXPECT_TRUE(row.result || !PathExists(log.Image(row.name))) << row.name;
    }
    for (const std::string& path :
         {log.root + kSep + "escaped.bmp", log.Image("sub") + kSep + "inner.bmp",
          log.Image("sub\\inner.bmp")})
        EXPECT_FALSE(PathExists(path)) << path;
    EXPECT_EQ(Picture(log, nullptr, nullptr, "a") + Picture(log, nullptr, nullptr, "b"), 2);
    EXPECT_EQ(Picture(log, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(PathExists(log.Image("0x1f4_0xa1c_00000001.bmp")));
    EXPECT_FALSE(PathExists(log.Image("0x1f4_0xa1c_00000002.bmp")));
    FormatLog homeless(0, 3, true);
    homeless.folder = "";
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(homeless.root);
    EXPECT_EQ(Picture(homeless, "stray.bmp", rgb, "x"), 1);
    std::filesystem::current_path(previous);
    EXPECT_FALSE(PathExists(homeless.root + kSep + "stray.bmp") ||
                 PathExists(homeless.Image("stray.bmp")));
    CLog unopened;
    EXPECT_EQ(unopened.FuncBegin(0, "F") + unopened.FuncEnd(0), 0);
}

std::atomic<int64_t> fakeNow{0};

// Steps: "b<index>,<count>@<t>" begin, "e<index>@<t>" end, "r<index>" reset; each begin and end
// returns <t>, or 0 after "=0". Render timers 1-18 need timer 0 counted; a reset keeps the begin.
TEST(TimerTable, StepsOnAnExactClock) {
    const std::tuple<const char*, const char*, int32_t, int64_t, int32_t, int64_t, bool> rows[] = {
        {"CountFlagZero", "b19,0@100 e19@150", 19, 50, 0, 0, false},
        {"TwoCounted", "b31,1@5000 e31@5010 b31,1@7000 e31@7030", 31, 40, 2, 20, false},
        {"AverageTruncates", "b20,1@100 e20@141 b20,1@100 e20@100", 20, 41, 2, 20, false},
        {"NegativeTruncates", "b21,1@141 e21@100 b21,1@100 e21@100", 21, -41, 2, -20, false},
        {"GateShut", "b0,0@100 e0@110 b5,1@200=0 e5@250=0", 5, 0, 0, 0, false},
        {"GateOpen", "b0,1@300 b5,1@400 e5@425", 5, 25, 1, 25, false},
        {"GateShutAgain", "b0,1@300 b5,1@400 e5@425 r0 b5,1@500=0 e5@900=0", 5, 25, 1, 25, false},
        {"TimerZeroItself", "b0,1@300 e0@310", 0, 10, 1, 10, false},
        {"PlainTimerIgnoresTheGate", "b25,1@100 e25@107", 25, 7, 1, 7, false},
        {"ResetKeepsTheBegin", "b19,1@100 e19@110 r19 e19@130 e19@140", 19, 70, 0, 0, false},
        {"EndWithoutBegin", "e25@123456", 25, 0, 0, 0, false},
        {"EndOfAnUnbegunRenderTimer", "b0,1@5 e7@123456", 7, 0, 0, 0, false},
        {"IndexPastTheTable", "b32,1@100=0 e32@200=0 r32", 32, 0, 0, 0, false},
        {"NegativeIndex", "b-1,1@100=0 e-1@200=0", -1, 0, 0, 0, false},
        {"FallbackAcrossItsWrap", "b19,1@4294967000 e19@704", 19, 1000, 1, 1000, true},
    };
    for (const auto& [name, script, index, elapsed, count, average, withoutCounter] : rows) {
        SCOPED_TRACE(name);
        platform::testing::ClearFaults();
        if (withoutCounter) FailAfter(Fault::TimeStampCounter, 0, -1);
        platform::testing::SetFakeTimerClock([] { return fakeNow.load(); });
        CTimerTable table;
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            const int32_t timer = std::stoi(step.substr(1));
            const size_t at = step.find('@');
            if (at != std::string::npos) fakeNow = std::stoll(step.substr(at + 1));
            const int64_t expected = step.find("=0") != std::string::npos ? 0 : fakeNow.load();
            const int64_t got =
                step[0] == 'b'
                    ? table.RecordBegin(timer, std::stoi(step.substr(step.find(',') + 1)))
                : step[0] == 'e' ? table.RecordEnd(timer)
                                 : (table.Reset(timer), expected);
            EXPECT_EQ(got, expected) << step;
        }
        EXPECT_EQ(table.GetElapsed(index), elapsed);
        EXPECT_EQ(table.GetCount(index), count);
        EXPECT_EQ(table.GetAverageElapsed(index), average);
    }
}

// Without the counter, at calibration, after it or at the end of its window: the millisecond clock.
// Wide products against the compiler's; 2994.7 ticks per microsecond kept over twenty years.
TEST(TimerClock, FallbacksAndTickScale) {
    for (const bool afterCalibration : {false, true}) {
        CTimerTable table;
        if (afterCalibration) table.RecordBegin(19, 1);
        FailAfter(Fault::TimeStampCounter, 0, -1);
        const int64_t begin = table.RecordBegin(19, 1);
        EXPECT_TRUE(begin >= 0 && begin <= int64_t{UINT32_MAX}) << begin;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        table.RecordEnd(19);
        EXPECT_GE(table.GetElapsed(19), 19000);
        EXPECT_EQ(table.GetElapsed(19) % 1000, 0);
        platform::testing::ClearFaults();
    }
    FailAfter(Fault::TimeStampCounter, 16, -1);
    EXPECT_TRUE(MeasureClockCalibration().useFallbackClock);

    const uint64_t a = 0xFEDCBA9876543210u, b = 0x0123456789ABCDEFu;
    const Wide128 portable = MultiplyWidePortable(a, b), native = MultiplyWide(a, b);
    EXPECT_TRUE(portable.high == 0x121FA00AD77D742u && portable.low == 0x2236D88FE5618CF0u);
    EXPECT_TRUE(native.high == portable.high && native.low == portable.low);
    const uint64_t years = 20ull * 365 * 86400 * 1000000;
    const uint64_t converted =
        TickScale::FromMeasurement(2994700, 1000000).ToMicroseconds(years * 2994 + years / 10 * 7);
    EXPECT_NEAR(static_cast<double>(converted), static_cast<double>(years), 1.0);
    EXPECT_FALSE(TickScale::FromMeasurement(1000, 0).IsValid() ||
                 TickScale::FromMeasurement(0, 1000000).IsValid());
    EXPECT_EQ(TickScale::FromMeasurement(500, 1000000).ToMicroseconds(500), 1000u);
    EXPECT_EQ(TickScale().ToMicroseconds(1000), 0u);
}

}  // namespace
}  // namespace vantrel::test
