// Entry text of a log: printf entries, function begin/end markers, indentation, line ends,
// the size ceiling and the closing summary block.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <memory>
#include <string>

#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/critical_section.h"
#include "platform/file.h"
#include "platform/test_seam.h"
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
    int32_t PrintOn(int32_t device, const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int32_t result = Printf(device, format, args);
        va_end(args);
        return result;
    }

    void SetIndentLevel(int32_t level) { indentLevel = level; }
    void SetIndentSize(int32_t size) { indentSize = size; }
    void SetCache(const std::string& text) { cache = text; }
    void SetMode(uint32_t modeBits) { mode = modeBits; }
    char LastChar() const { return lastChar; }
    platform::File& File() { return file; }
};

// The local time every entry of a test sees.
class FakeClock {
  public:
    FakeClock(int hour, int minute, int second, int milliseconds) {
        time_.year = 2026;
        time_.month = 12;
        time_.day = 4;
        Set(hour, minute, second, milliseconds);
    }
    ~FakeClock() { platform::testing::SetFakeLocalTime(nullptr); }
    void Set(int hour, int minute, int second, int milliseconds) {
        time_.hour = hour;
        time_.minute = minute;
        time_.second = second;
        time_.milliseconds = milliseconds;
        platform::testing::SetFakeLocalTime(&time_);
    }

  private:
    platform::SystemTime time_;
};

void RunRenderScene(FormatLog& log, FakeClock& clock) {
    clock.Set(16, 5, 21, 31);
    EXPECT_EQ(log.FuncBegin(0, "CScene::Render"), 1);
    clock.Set(16, 5, 21, 47);
    EXPECT_EQ(log.Print("%d items\n", 12), 1);
    clock.Set(16, 5, 21, 48);
    EXPECT_EQ(log.FuncBegin(0, "CScene::DrawItem\r\n"), 1);
    EXPECT_EQ(log.FuncEnd(0), 1);
    EXPECT_EQ(log.FuncEnd(0), 1);
}

TEST(LogFormat, NestedFunctionsWithThreadIdsAndTimeStamps) {
    FakeClock clock(0, 0, 0, 0);
    FormatLog log(LogModeThreadId | LogModeTimeStamp);
    RunRenderScene(log, clock);
    EXPECT_EQ(log.GetCache(),
              "\r\n"
              "CScene::Render // tid:0x00000a1c, (16:05:21:031)\r\n"
              "{\r\n"
              "   (16:05:21:047) 12 items\r\n"
              "   CScene::DrawItem // tid:0x00000a1c, (16:05:21:048)\r\n"
              "   {\r\n"
              "   }\r\n"
              "}\r\n");
    EXPECT_EQ(log.GetIndentLevel(), 0);
}

TEST(LogFormat, NestedFunctionsWithoutDecorations) {
    FakeClock clock(0, 0, 0, 0);
    FormatLog log;
    RunRenderScene(log, clock);
    EXPECT_EQ(log.GetCache(),
              "\r\nCScene::Render\r\n{\r\n   12 items\r\n   CScene::DrawItem\r\n   {\r\n   }\r\n}"
              "\r\n");
}

TEST(LogFormat, OnlyTheFinalLineFeedOfAPieceBecomesCrLf) {
    FormatLog log;
    log.Print("a\n");
    log.Print("b\r\n");
    log.Print("c\nd\n");
    log.Print("x");
    log.Print("\n");
    EXPECT_EQ(log.GetCache(), "a\r\nb\r\nc\nd\r\nx\r\n");

    // A CR ending one piece pairs with the LF that starts the next.
    FormatLog split;
    split.Print("x\r");
    split.Print("\n");
    EXPECT_EQ(split.GetCache(), "x\r\n");
    split.Print("\n");
    EXPECT_EQ(split.GetCache(), "x\r\n\r\n");
}

TEST(LogFormat, OpenLinesContinueAndFunctionBeginClosesThem) {
    FormatLog log;
    log.SetIndentLevel(1);
    log.Print("abc");
    log.Print("def\n");
    EXPECT_EQ(log.GetCache(), "   abc   def\r\n");

    FormatLog begin;
    begin.Print("abc");
    begin.FuncBegin(0, "F");
    begin.Print("abc");
    begin.FuncEnd(0);
    EXPECT_EQ(begin.GetCache(), "abc\r\nF\r\n{\r\n   abc\r\n}\r\n");
}

TEST(LogFormat, IndentationFollowsTheLevelOnlyWhilePositive) {
    FormatLog log;
    log.FuncEnd(0);
    log.FuncEnd(0);
    EXPECT_EQ(log.GetIndentLevel(), -2);
    log.Print("x\n");
    log.FuncBegin(0, "A");
    log.FuncBegin(0, "B");
    log.FuncBegin(0, "C");
    log.Print("y\n");
    EXPECT_EQ(log.GetCache(), "\r\n}\r\n}\r\nx\r\nA\r\n{\r\nB\r\n{\r\nC\r\n{\r\n   y\r\n");

    FormatLog flat(0, 0);
    flat.FuncBegin(0, "F");
    flat.FuncBegin(0, "G");
    flat.Print("x\n");
    EXPECT_EQ(flat.GetCache(), "\r\nF\r\n{\r\nG\r\n{\r\nx\r\n");
}

TEST(LogFormat, FunctionNamesLoseOneTrailingLineEnd) {
    struct Case {
        const char* name;
        const char* line;
    };
    const Case cases[] = {
        {"F\r\n", "F"}, {"F\n", "F"}, {"F\r", "F"}, {"F\n\n", "F\r\n"}, {"F\r\n\r\n", "F\r\n"},
    };
    for (const Case& c : cases) {
        FormatLog log(LogModeThreadId);
        log.Print("\n");
        log.FuncBegin(0, c.name);
        EXPECT_EQ(log.GetCache(), std::string("\r\n") + c.line + " // tid:0x00000a1c\r\n{\r\n")
            << c.name;
    }
}

TEST(LogFormat, FunctionBeginSuffixForms) {
    FakeClock clock(9, 8, 7, 6);
    FormatLog both(LogModeThreadId | LogModeTimeStamp);
    both.FuncBegin(0, "");
    EXPECT_EQ(both.GetCache(), "\r\n // tid:0x00000a1c, (09:08:07:006)\r\n{\r\n");

    FormatLog stampOnly(LogModeTimeStamp);
    stampOnly.FuncBegin(0, "F");
    EXPECT_EQ(stampOnly.GetCache(), "\r\nF, (09:08:07:006)\r\n{\r\n");

    // No name at all reads as an empty name; without decorations the line stays empty.
    FormatLog plain;
    plain.SetIndentLevel(1);
    EXPECT_EQ(plain.FuncBegin(0, nullptr), 1);
    EXPECT_EQ(plain.GetCache(), "\r\n   \r\n   {\r\n");
}

TEST(LogFormat, TextIsStoredAsGiven) {
    // Percent signs in a function name are never read as conversions.
    FormatLog log(LogModeHtml);
    log.FuncBegin(0, "operator<&>%s%n%d");
    log.Print("<b>&amp;</b> %s\n", "<i>");
    EXPECT_EQ(log.GetCache(), "\r\noperator<&>%s%n%d\r\n{\r\n   <b>&amp;</b> <i>\r\n");

    // A message ends at its NUL, and the line end is judged there.
    FormatLog cut;
    cut.Print("ab%cde\n", 0);
    EXPECT_EQ(cut.GetCache(), "ab");
    EXPECT_EQ(cut.LastChar(), 'b');
    cut.Print("\n");
    EXPECT_EQ(cut.GetCache(), "ab\r\n");
}

TEST(LogFormat, DeviceValueDoesNotMatter) {
    std::string expected;
    for (int32_t device : {0, 7, -1, INT_MIN}) {
        FormatLog log(LogModeThreadId);
        log.PrintOn(device, "n=%d\n", 5);
        log.FuncBegin(device, "F");
        log.FuncEnd(device);
        if (expected.empty()) expected = log.GetCache();
        EXPECT_EQ(log.GetCache(), expected) << device;
    }
    EXPECT_EQ(expected, "n=5\r\nF // tid:0x00000a1c\r\n{\r\n}\r\n");
}

TEST(LogFormat, MissingFormatMakesNoEntry) {
    FormatLog log;
    log.Print("kept\n");
    EXPECT_EQ(log.Print(nullptr), 0);
    EXPECT_EQ(log.GetCache(), "kept\r\n");
}

TEST(LogFormat, MessagesOfAnySizeAreKeptWhole) {
    // Around the size where the text leaves the stack for the heap, with and without prefix.
    FakeClock clock(1, 2, 3, 4);
    for (uint32_t modeBits : {0u, static_cast<uint32_t>(LogModeTimeStamp)}) {
        for (size_t size = 1000; size < 1050; ++size) {
            FormatLog log(modeBits);
            const std::string body(size, 'q');
            ASSERT_EQ(log.Print("%s\n", body.c_str()), 1);
            const std::string prefix = modeBits ? "(01:02:03:004) " : "";
            ASSERT_EQ(log.GetCache(), prefix + body + "\r\n") << size;
        }
    }

    FormatLog big;
    std::string body(3 * 1024 * 1024, 'z');
    body[1234567] = 'y';
    ASSERT_EQ(big.Print("<%s>%d\n", body.c_str(), 42), 1);
    EXPECT_EQ(big.GetCache(), "<" + body + ">42\r\n");
}

TEST(LogFormat, IndentWidthSaturatesInsteadOfOverflowing) {
    FormatLog log(0, 3);
    EXPECT_EQ(log.GetIndent(2), 6);
    EXPECT_EQ(log.GetIndent(-2), -6);
    log.SetIndentSize(0x40000000);
    EXPECT_EQ(log.GetIndent(1), 0x40000000);
    EXPECT_EQ(log.GetIndent(2), INT_MAX);
    EXPECT_EQ(log.GetIndent(-3), INT_MIN);
    log.SetIndentSize(-5);
    EXPECT_EQ(log.GetIndent(INT_MAX), INT_MIN);

    // Far below 0 there is no indentation at all, not a wrapped-around width.
    FormatLog negative(0, 0x40000000);
    negative.SetIndentLevel(-2);
    EXPECT_EQ(negative.FuncBegin(0, "F"), 1);
    EXPECT_EQ(negative.GetCache(), "\r\nF\r\n{\r\n");

    // An impossible width refuses every append, and says so.
    FormatLog wide(0, 0x40000000);
    wide.SetIndentLevel(2);
    EXPECT_EQ(wide.FuncBegin(0, "F"), 0);
    EXPECT_EQ(wide.Print("x\n"), 0);
    EXPECT_EQ(wide.FuncEnd(0), 0);
    EXPECT_EQ(wide.GetCache(), "");
}

TEST(LogFormat, AppendsStopAtTheLargestSigned32BitCache) {
    // The width counts toward the ceiling even when no spaces are written, which lets the
    // boundary be reached without gigabytes of text.
    FormatLog log(0, INT_MAX - 5);
    log.SetIndentLevel(1);
    log.SetCache("x");
    EXPECT_EQ(log.AppendText("abcd", 4, false), 1);
    EXPECT_EQ(log.GetCache(), "xabcd");

    log.SetCache("xy");
    EXPECT_EQ(log.AppendText("abcd", 4, false), 0);
    EXPECT_EQ(log.GetCache(), "xy");

    // The CR placed before a final LF is part of the text that must fit.
    log.SetCache("x");
    EXPECT_EQ(log.AppendText("abc\n", 4, false), 0);
    EXPECT_EQ(log.GetCache(), "x");
    log.SetIndentSize(INT_MAX - 6);
    EXPECT_EQ(log.AppendText("abc\n", 4, false), 1);
    EXPECT_EQ(log.GetCache(), "xabc\r\n");
}

TEST(LogFormat, ImageTagLineEnds) {
    FormatLog log;
    log.SetIndentLevel(1);
    EXPECT_EQ(log.AppendImageTag("a.bmp", "Frame\n", 6, true), 1);
    const std::string tag = "<img src=\"img/a.bmp\" border=\"0\" align=\"bottom\" alt=\"a.bmp\">";
    EXPECT_EQ(log.GetCache(), "   " + tag + "Frame\r\n");

    // A tag without caption leaves the line state as it was: after a line end, a function
    // begin follows the tag on its line.
    FormatLog bare;
    bare.Print("\n");
    EXPECT_EQ(bare.AppendImageTag("a.bmp", "", 0, false), 1);
    bare.FuncBegin(0, "F");
    EXPECT_EQ(bare.GetCache(), "\r\n" + tag + "F\r\n{\r\n");
}

TEST(LogFormat, SummaryBlock) {
    FakeClock clock(16, 5, 21, 123);
    const std::string folder = test::MakeTempDir("summary");
    const std::string expected =
        "\r\nProcess ID: 0x1f4\r\nThe thread ID is 0x00000a1c\r\n"
        "Log Time: 2026/12/04 16:05:21:123\r\n" +
        std::string(72, '/') + "\r\n\r\n";

    FormatLog text;
    ASSERT_TRUE(
        text.File().Open(folder + "/text.log", platform::FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_EQ(text.WriteSummary(), 1);
    text.File().Close();
    EXPECT_EQ(test::ReadFile(folder + "/text.log"), expected);

    FormatLog html(LogModeHtml);
    ASSERT_TRUE(
        html.File().Open(folder + "/html.log", platform::FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_EQ(html.WriteSummary(), 1);
    html.File().Close();
    EXPECT_EQ(test::ReadFile(folder + "/html.log"), expected + kHtmlEndBlock + kHtmlClosingLine);
    // The summary bypasses the cache and leaves the line state alone.
    EXPECT_EQ(html.GetCache(), "");
    EXPECT_EQ(html.LastChar(), 0);
}

TEST(LogFormat, UnopenedLogRefusesEntries) {
    struct Unopened : CLog {
        int32_t Print(const char* format, ...) {
            va_list args;
            va_start(args, format);
            const int32_t result = Printf(0, format, args);
            va_end(args);
            return result;
        }
    } log;
    EXPECT_EQ(log.Print("x\n"), 0);
    EXPECT_EQ(log.FuncBegin(0, "F"), 0);
    EXPECT_EQ(log.FuncEnd(0), 0);
    EXPECT_EQ(log.GetCache(), "");
}

}  // namespace
}  // namespace vantrel
