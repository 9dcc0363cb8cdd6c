// Entry text of a log, byte for byte, as it lands in the cache; and the summary block.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/platform_config.h"
#include "platform/test_seam.h"
#include "support/service_fixture.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

const platform::SystemTime kTime{2026, 12, 5, 4, 16, 5, 21, 31};

// A log whose text stays in its cache: the fill check never writes.
class FormatLog : public CLog {
  public:
    explicit FormatLog(uint32_t modeBits = 0, int32_t indent = 3) {
        lock = std::make_unique<platform::CriticalSection>();
        mode = modeBits | LogModeNoFileOutput;
        indentSize = indent;
        processId = 0x1F4;
        threadId = 0xA1C;
        platform::testing::SetFakeLocalTime(&kTime);
    }
    using CLog::AppendImageTag;
    using CLog::AppendText;
    using CLog::cache;
    using CLog::file;
    using CLog::GetIndent;
    using CLog::indentLevel;
    using CLog::indentSize;
};

struct EntryCase {
    const char* name;
    uint32_t mode;
    int32_t indent;
    // "B<name>" function begin, "E" end, "P<text>" printf("%s", text), "Z" printf("ab%cde\n",
    // 0), "I<n>" indentation level n, "T<image>|<caption>" image tag.
    std::vector<std::string> script;
    std::string bytes;
};

class EntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryTest, Bytes) {
    const EntryCase& c = GetParam();
    FormatLog log(c.mode, c.indent);
    for (const std::string& step : c.script) {
        const std::string arg = step.substr(1);
        const size_t bar = arg.find('|');
        int32_t result = 1;
        if (step[0] == 'B') result = log.FuncBegin(7, arg.c_str());
        if (step[0] == 'E') result = log.FuncEnd(-1);
        if (step[0] == 'P') result = test::Log(log, "%s", arg.c_str());
        if (step[0] == 'Z') result = test::Log(log, "ab%cde\n", 0);
        if (step[0] == 'I') log.indentLevel = std::stoi(arg);
        if (step[0] == 'T')
            result = log.AppendImageTag(arg.substr(0, bar).c_str(), arg.c_str() + bar + 1,
                                        static_cast<int32_t>(arg.size() - bar - 1), true);
        EXPECT_EQ(result, 1) << step;
    }
    EXPECT_EQ(log.GetCache(), c.bytes);
}

const std::string kTag = "<img src=\"img/a.bmp\" border=\"0\" align=\"bottom\" alt=\"a.bmp\">";
const std::vector<std::string> kScene = {"BCScene::Render", "P12 items\n", "BCScene::DrawItem\r\n",
                                         "E", "E"};
constexpr uint32_t kTid = LogModeThreadId, kStamp = LogModeTimeStamp;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scripts, EntryTest, ::testing::Values(
    EntryCase{"NestedWithThreadIdAndStamp", kTid | kStamp, 3, kScene,
        "\r\nCScene::Render // tid:0x00000a1c, (16:05:21:031)\r\n{\r\n   (16:05:21:031) 12 items\r\n"
        "   CScene::DrawItem // tid:0x00000a1c, (16:05:21:031)\r\n   {\r\n   }\r\n}\r\n"},
    EntryCase{"NestedPlain", 0, 3, kScene,
        "\r\nCScene::Render\r\n{\r\n   12 items\r\n   CScene::DrawItem\r\n   {\r\n   }\r\n}\r\n"},
    // Only the final LF of a piece becomes CR LF; a CR ending one piece pairs with the next LF.
    EntryCase{"LineEnds", 0, 3, {"Pa\n", "Pb\r\n", "Pc\nd\n", "Px", "P\n", "Py\r", "P\n", "P\n"},
        "a\r\nb\r\nc\nd\r\nx\r\ny\r\n\r\n"},
    EntryCase{"OpenLinesContinue", 0, 3, {"I1", "Pabc", "Pdef\n"}, "   abc   def\r\n"},
    EntryCase{"BeginClosesAnOpenLine", 0, 3, {"Pabc", "BF", "Pabc", "E"},
        "abc\r\nF\r\n{\r\n   abc\r\n}\r\n"},
    EntryCase{"IndentOnlyWhilePositive", 0, 3, {"E", "E", "Px\n", "BA", "BB", "BC", "Py\n"},
        "\r\n}\r\n}\r\nx\r\nA\r\n{\r\nB\r\n{\r\nC\r\n{\r\n   y\r\n"},
    EntryCase{"IndentSizeZero", 0, 0, {"BF", "BG", "Px\n"}, "\r\nF\r\n{\r\nG\r\n{\r\nx\r\n"},
    // A function name loses one trailing line end.
    EntryCase{"NameLosesCrLf", kTid, 3, {"P\n", "BF\r\n"}, "\r\nF // tid:0x00000a1c\r\n{\r\n"},
    EntryCase{"NameLosesCr", kTid, 3, {"P\n", "BF\r"}, "\r\nF // tid:0x00000a1c\r\n{\r\n"},
    EntryCase{"NameLosesOneLf", kTid, 3, {"P\n", "BF\n\n"}, "\r\nF\r\n // tid:0x00000a1c\r\n{\r\n"},
    EntryCase{"EmptyName", kTid | kStamp, 3, {"B"}, "\r\n // tid:0x00000a1c, (16:05:21:031)\r\n{\r\n"},
    EntryCase{"StampOnlySuffix", kStamp, 3, {"BF"}, "\r\nF, (16:05:21:031)\r\n{\r\n"},
    // Percent signs of a name are never conversions; markup passes unescaped.
    EntryCase{"TextAsGiven", LogModeHtml, 3, {"Boperator<&>%s%n%d", "P<b>&amp;</b> %%\n"},
        "\r\noperator<&>%s%n%d\r\n{\r\n   <b>&amp;</b> %%\r\n"},
    // A message ends at its NUL, and its line end is judged there.
    EntryCase{"CutAtNul", 0, 3, {"Z", "P\n"}, "ab\r\n"},
    EntryCase{"ImageTag", 0, 3, {"I1", "Ta.bmp|Frame\n"}, "   " + kTag + "Frame\r\n"},
    // A tag without caption leaves the line state: a begin after a line end follows it.
    EntryCase{"BareImageTag", 0, 3, {"P\n", "Ta.bmp|", "BF"}, "\r\n" + kTag + "F\r\n{\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Around the size where the text leaves the stack for the heap, with and without prefix,
// and far past 1 MiB.
TEST(LogFormat, MessagesOfAnySizeAreKeptWhole) {
    for (uint32_t modeBits : {0u, kStamp}) {
        for (size_t size = 1000; size < 1050; ++size) {
            FormatLog log(modeBits);
            const std::string body(size, 'q');
            ASSERT_EQ(test::Log(log, "%s\n", body.c_str()), 1);
            ASSERT_EQ(log.GetCache(), (modeBits ? "(16:05:21:031) " : "") + body + "\r\n") << size;
        }
    }
    FormatLog big;
    std::string body(3 * 1024 * 1024, 'z');
    body[1234567] = 'y';
    ASSERT_EQ(test::Log(big, "<%s>%d\n", body.c_str(), 42), 1);
    EXPECT_EQ(big.GetCache(), "<" + body + ">42\r\n");
    EXPECT_EQ(test::Log(big, nullptr), 0);
}

// Widths saturate instead of wrapping; an impossible width refuses every append; the cache
// stops at the largest signed 32-bit length, the CR before a final LF and the width included.
TEST(LogFormat, IndentWidthAndCacheLengthStayWithin32Bits) {
    FormatLog log(0, 0x40000000);
    EXPECT_EQ(log.GetIndent(2), INT_MAX);
    EXPECT_EQ(log.GetIndent(-3), INT_MIN);
    log.indentLevel = -2;
    EXPECT_EQ(log.FuncBegin(0, "F"), 1);
    EXPECT_EQ(log.GetCache(), "\r\nF\r\n{\r\n");
    FormatLog wide(0, 0x40000000);
    wide.indentLevel = 2;
    EXPECT_EQ(wide.FuncBegin(0, "F") + test::Log(wide, "x\n") + wide.FuncEnd(0), 0);
    EXPECT_EQ(wide.GetCache(), "");

    FormatLog full(0, INT_MAX - 5);
    full.indentLevel = 1;
    const struct {
        const char *before, *text;
        int32_t result;
    } appends[] = {{"x", "abcd", 1}, {"xy", "abcd", 0}, {"x", "abc\n", 0}};
    for (const auto& a : appends) {
        full.cache = a.before;
        EXPECT_EQ(full.AppendText(a.text, 4, false), a.result) << a.before << a.text;
    }
    full.indentSize = INT_MAX - 6;
    EXPECT_EQ(full.AppendText("abc\n", 4, false), 1);
    EXPECT_EQ(full.GetCache(), "xabc\r\n");

    CLog unopened;
    EXPECT_EQ(unopened.FuncBegin(0, "F") + unopened.FuncEnd(0), 0);
}

// The summary goes straight to the file, bypassing the cache and its line state.
TEST(LogFormat, SummaryBlock) {
    const std::string expected =
        "\r\nProcess ID: 0x1f4\r\nThe thread ID is 0x00000a1c\r\nLog Time: 2026/12/04 "
        "16:05:21:031\r\n" +
        std::string(72, '/') + "\r\n\r\n";
    const std::string path = test::MakeTempDir("summary") + platform::kPathSeparator + "s.log";
    for (uint32_t modeBits : {0u, static_cast<uint32_t>(LogModeHtml)}) {
        FormatLog log(modeBits);
        ASSERT_TRUE(log.file.Open(path, platform::FileOpenMode::CreateOrEmptyReadWrite));
        EXPECT_EQ(log.WriteSummary(), 1);
        log.file.Close();
        EXPECT_EQ(test::ReadFile(path),
                  modeBits ? expected + kHtmlEndBlock + kHtmlClosingLine : expected);
        test::Log(log, "x");
        log.FuncBegin(0, "F");
        EXPECT_EQ(log.GetCache(), "x\r\nF\r\n{\r\n");
    }
}

}  // namespace
}  // namespace vantrel
