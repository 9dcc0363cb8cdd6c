// Entry text of a log, byte for byte: printf entries, function begin and end markers,
// indentation, line ends, image tags, the size ceiling and the closing summary block.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/critical_section.h"
#include "platform/file.h"
#include "platform/test_seam.h"
#include "platform_config.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

// A log whose text stays in its cache: the fill check never writes.
class FormatLog : public CLog {
  public:
    explicit FormatLog(uint32_t modeBits = 0, int32_t indent = 3) {
        lock = std::make_unique<platform::CriticalSection>();
        mode = modeBits | LogModeNoFileOutput;
        indentSize = indent;
        processId = 0x1F4;
        threadId = 0xA1C;
    }
    using CLog::AppendImageTag;
    using CLog::AppendText;
    using CLog::GetIndent;
    int32_t Print(const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int32_t result = Printf(0, format, args);
        va_end(args);
        return result;
    }
    void SetIndentLevel(int32_t level) { indentLevel = level; }
    void SetIndentSize(int32_t size) { indentSize = size; }
    void SetCache(const std::string& text) { cache = text; }
    platform::File& File() { return file; }
};

// Every entry of these tests sees 2026/12/04 16:05:21:031.
class FakeClock {
  public:
    FakeClock() {
        time_.year = 2026;
        time_.month = 12;
        time_.day = 4;
        time_.hour = 16;
        time_.minute = 5;
        time_.second = 21;
        time_.milliseconds = 31;
        platform::testing::SetFakeLocalTime(&time_);
    }
    ~FakeClock() { platform::testing::SetFakeLocalTime(nullptr); }

  private:
    platform::SystemTime time_;
};

struct EntryCase {
    const char* name;
    uint32_t mode;
    int32_t indent;
    // Steps: "B<name>" function begin, "E" function end, "P<text>" printf("%s", text),
    // "Z" printf("ab%cde\n", 0), "I<n>" indentation level n, "T<image>|<caption>" image tag.
    std::vector<std::string> script;
    std::string bytes;
};

class EntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryTest, Bytes) {
    const EntryCase& c = GetParam();
    FakeClock clock;
    FormatLog log(c.mode, c.indent);
    for (const std::string& step : c.script) {
        const std::string arg = step.substr(1);
        switch (step[0]) {
            case 'B':
                EXPECT_EQ(log.FuncBegin(7, arg.c_str()), 1) << step;
                break;
            case 'E':
                EXPECT_EQ(log.FuncEnd(-1), 1);
                break;
            case 'P':
                EXPECT_EQ(log.Print("%s", arg.c_str()), 1) << step;
                break;
            case 'Z':
                EXPECT_EQ(log.Print("ab%cde\n", 0), 1);
                break;
            case 'I':
                log.SetIndentLevel(std::stoi(arg));
                break;
            case 'T': {
                const std::string caption = arg.substr(arg.find('|') + 1);
                EXPECT_EQ(log.AppendImageTag(arg.substr(0, arg.find('|')).c_str(), caption.c_str(),
                                             static_cast<int32_t>(caption.size()), true),
                          1);
                break;
            }
        }
    }
    EXPECT_EQ(log.GetCache(), c.bytes);
}

const std::string kTag = "<img src=\"img/a.bmp\" border=\"0\" align=\"bottom\" alt=\"a.bmp\">";
const std::vector<std::string> kScene = {"BCScene::Render", "P12 items\n", "BCScene::DrawItem\r\n",
                                         "E", "E"};

INSTANTIATE_TEST_SUITE_P(
    Scripts, EntryTest,
    ::testing::Values(
        EntryCase{"NestedWithThreadIdAndTimeStamp", LogModeThreadId | LogModeTimeStamp, 3, kScene,
                  "\r\nCScene::Render // tid:0x00000a1c, (16:05:21:031)\r\n{\r\n"
                  "   (16:05:21:031) 12 items\r\n"
                  "   CScene::DrawItem // tid:0x00000a1c, (16:05:21:031)\r\n   {\r\n   }\r\n}\r\n"},
        EntryCase{"NestedPlain", 0, 3, kScene,
                  "\r\nCScene::Render\r\n{\r\n   12 items\r\n   CScene::DrawItem\r\n   {\r\n   }"
                  "\r\n}\r\n"},
        // Only the final LF of a piece becomes CR LF; a CR ending one piece pairs with the
        // LF starting the next.
        EntryCase{"LineEnds",
                  0,
                  3,
                  {"Pa\n", "Pb\r\n", "Pc\nd\n", "Px", "P\n", "Py\r", "P\n", "P\n"},
                  "a\r\nb\r\nc\nd\r\nx\r\ny\r\n\r\n"},
        EntryCase{"OpenLinesContinue", 0, 3, {"I1", "Pabc", "Pdef\n"}, "   abc   def\r\n"},
        EntryCase{"BeginClosesAnOpenLine",
                  0,
                  3,
                  {"Pabc", "BF", "Pabc", "E"},
                  "abc\r\nF\r\n{\r\n   abc\r\n}\r\n"},
        EntryCase{"IndentOnlyWhilePositive",
                  0,
                  3,
                  {"E", "E", "Px\n", "BA", "BB", "BC", "Py\n"},
                  "\r\n}\r\n}\r\nx\r\nA\r\n{\r\nB\r\n{\r\nC\r\n{\r\n   y\r\n"},
        EntryCase{"IndentSizeZero", 0, 0, {"BF", "BG", "Px\n"}, "\r\nF\r\n{\r\nG\r\n{\r\nx\r\n"},
        // A function name loses one trailing line end.
        EntryCase{"NameLosesCrLf",
                  LogModeThreadId,
                  3,
                  {"P\n", "BF\r\n"},
                  "\r\nF // tid:0x00000a1c\r\n{\r\n"},
        EntryCase{
            "NameLosesCr", LogModeThreadId, 3, {"P\n", "BF\r"}, "\r\nF // tid:0x00000a1c\r\n{\r\n"},
        EntryCase{"NameLosesOneLf",
                  LogModeThreadId,
                  3,
                  {"P\n", "BF\n\n"},
                  "\r\nF\r\n // tid:0x00000a1c\r\n{\r\n"},
        EntryCase{"EmptyNameWithBothSuffixes",
                  LogModeThreadId | LogModeTimeStamp,
                  3,
                  {"B"},
                  "\r\n // tid:0x00000a1c, (16:05:21:031)\r\n{\r\n"},
        EntryCase{"StampOnlySuffix", LogModeTimeStamp, 3, {"BF"}, "\r\nF, (16:05:21:031)\r\n{\r\n"},
        // Percent signs of a name are never conversions; markup passes unescaped.
        EntryCase{"TextAsGiven",
                  LogModeHtml,
                  3,
                  {"Boperator<&>%s%n%d", "P<b>&amp;</b> %%\n"},
                  "\r\noperator<&>%s%n%d\r\n{\r\n   <b>&amp;</b> %%\r\n"},
        // A message ends at its NUL, and its line end is judged there.
        EntryCase{"CutAtNul", 0, 3, {"Z", "P\n"}, "ab\r\n"},
        EntryCase{"ImageTag", 0, 3, {"I1", "Ta.bmp|Frame\n"}, "   " + kTag + "Frame\r\n"},
        // A tag without caption leaves the line state as it was: after a line end, a
        // function begin follows the tag on its line.
        EntryCase{"BareImageTag", 0, 3, {"P\n", "Ta.bmp|", "BF"}, "\r\n" + kTag + "F\r\n{\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Around the size where the text leaves the stack for the heap, with and without prefix,
// and far past 1 MiB.
TEST(LogFormat, MessagesOfAnySizeAreKeptWhole) {
    FakeClock clock;
    for (uint32_t modeBits : {0u, static_cast<uint32_t>(LogModeTimeStamp)}) {
        for (size_t size = 1000; size < 1050; ++size) {
            FormatLog log(modeBits);
            const std::string body(size, 'q');
            ASSERT_EQ(log.Print("%s\n", body.c_str()), 1);
            ASSERT_EQ(log.GetCache(), (modeBits ? "(16:05:21:031) " : "") + body + "\r\n") << size;
        }
    }
    FormatLog big;
    std::string body(3 * 1024 * 1024, 'z');
    body[1234567] = 'y';
    ASSERT_EQ(big.Print("<%s>%d\n", body.c_str(), 42), 1);
    EXPECT_EQ(big.GetCache(), "<" + body + ">42\r\n");
    EXPECT_EQ(big.Print(nullptr), 0);
}

// Widths saturate instead of wrapping; an impossible width refuses every append and says so;
// the cache stops at the largest signed 32-bit length, the CR before a final LF included.
TEST(LogFormat, IndentWidthAndCacheLengthStayWithin32Bits) {
    FormatLog log(0, 0x40000000);
    EXPECT_EQ(log.GetIndent(2), INT_MAX);
    EXPECT_EQ(log.GetIndent(-3), INT_MIN);
    log.SetIndentLevel(-2);
    EXPECT_EQ(log.FuncBegin(0, "F"), 1);
    EXPECT_EQ(log.GetCache(), "\r\nF\r\n{\r\n");
    FormatLog wide(0, 0x40000000);
    wide.SetIndentLevel(2);
    EXPECT_EQ(wide.FuncBegin(0, "F"), 0);
    EXPECT_EQ(wide.Print("x\n"), 0);
    EXPECT_EQ(wide.FuncEnd(0), 0);
    EXPECT_EQ(wide.GetCache(), "");

    // The width counts toward the ceiling even when no spaces are written.
    FormatLog full(0, INT_MAX - 5);
    full.SetIndentLevel(1);
    full.SetCache("x");
    EXPECT_EQ(full.AppendText("abcd", 4, false), 1);
    full.SetCache("xy");
    EXPECT_EQ(full.AppendText("abcd", 4, false), 0);
    full.SetCache("x");
    EXPECT_EQ(full.AppendText("abc\n", 4, false), 0);
    full.SetIndentSize(INT_MAX - 6);
    EXPECT_EQ(full.AppendText("abc\n", 4, false), 1);
    EXPECT_EQ(full.GetCache(), "xabc\r\n");
}

TEST(LogFormat, SummaryBlock) {
    FakeClock clock;
    const std::string expected =
        "\r\nProcess ID: 0x1f4\r\nThe thread ID is 0x00000a1c\r\nLog Time: 2026/12/04 16:05:21:031"
        "\r\n" +
        std::string(72, '/') + "\r\n\r\n";
    const std::string folder = test::MakeTempDir("summary") + platform::kPathSeparator;
    for (uint32_t modeBits : {0u, static_cast<uint32_t>(LogModeHtml)}) {
        FormatLog log(modeBits);
        ASSERT_TRUE(
            log.File().Open(folder + "s.log", platform::FileOpenMode::CreateOrEmptyReadWrite));
        EXPECT_EQ(log.WriteSummary(), 1);
        log.File().Close();
        EXPECT_EQ(test::ReadFile(folder + "s.log"),
                  modeBits ? expected + kHtmlEndBlock + kHtmlClosingLine : expected);
        // The summary bypasses the cache and leaves the line state alone.
        log.Print("x");
        log.FuncBegin(0, "F");
        EXPECT_EQ(log.GetCache(), "x\r\nF\r\n{\r\n");
    }
}

TEST(LogFormat, UnopenedLogRefusesEntries) {
    CLog log;
    EXPECT_EQ(log.FuncBegin(0, "F"), 0);
    EXPECT_EQ(log.FuncEnd(0), 0);
    EXPECT_EQ(log.GetCache(), "");
}

}  // namespace
}  // namespace vantrel
