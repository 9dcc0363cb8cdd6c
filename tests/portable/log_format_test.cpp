// Entry text of a log, byte for byte, as it lands in the cache; the summary block; bitmap
// snapshots: the BMP file for every header shape (or its refusal) and the names in img.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
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

using platform::testing::Fault;

const std::string kSep(1, platform::kPathSeparator);
const platform::SystemTime kTime{2026, 12, 5, 4, 16, 5, 21, 31};
constexpr uint32_t kTid = LogModeThreadId, kStamp = LogModeTimeStamp;

// A log whose text stays in its cache; with a folder (and its img folder) for snapshots.
class FormatLog : public CLog {
  public:
    explicit FormatLog(uint32_t modeBits = 0, int32_t indent = 3, bool withFolder = false) {
        lock = std::make_unique<platform::CriticalSection>();
        mode = modeBits | LogModeNoFileOutput;
        indentSize = indent;
        processId = 0x1F4;
        threadId = 0xA1C;
        platform::testing::SetFakeLocalTime(&kTime);
        if (!withFolder) return;
        root = test::MakeTempDir("snapshot");
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

std::string Tag(const std::string& name) {
    return "<img src=\"img/" + name + "\" border=\"0\" align=\"bottom\" alt=\"" + name + "\">";
}

struct EntryCase {
    const char* name;
    uint32_t mode;
    int32_t indent;
    // "B<name>" begin, "E" end, "P<text>" printf("%s", text), "Z" printf("ab%cde\n", 0),
    // "I<n>" indentation level n, "T<image>|<caption>" image tag, "Q<n>" n letters and LF.
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
        if (step[0] == 'Q')
            result = test::Log(log, "%s\n", std::string(std::stoul(arg), 'q').c_str());
        if (step[0] == 'Z') result = test::Log(log, "ab%cde\n", 0);
        if (step[0] == 'I') log.indentLevel = std::stoi(arg);
        if (step[0] == 'T')
            result = log.AppendImageTag(arg.substr(0, bar).c_str(), arg.c_str() + bar + 1,
                                        static_cast<int32_t>(arg.size() - bar - 1), true);
        EXPECT_EQ(result, 1) << step;
    }
    EXPECT_EQ(log.GetCache(), c.bytes);
}

const std::string kTag = Tag("a.bmp");
const std::vector<std::string> kScene = {"BCScene::Render", "P12 items\n", "BCScene::DrawItem\r\n",
                                         "E", "E"};
std::string Qs(size_t n, const char* prefix = "") {
    return prefix + std::string(n, 'q') + "\r\n";
}
constexpr char kP[] = "(16:05:21:031) ";
const std::string kBig = std::string(1234567, 'z') + "y" + std::string(2 << 20, 'z');

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
    EntryCase{"BeginClosesAnOpenLine", 0, 3, {"Pabc", "BF", "Pabc", "E"}, "abc\r\nF\r\n{\r\n   abc\r\n}\r\n"},
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
    EntryCase{"BareImageTag", 0, 3, {"P\n", "Ta.bmp|", "BF"}, "\r\n" + kTag + "F\r\n{\r\n"},
    // Around where the text leaves the stack for the heap, with and without prefix; past 1 MiB.
    EntryCase{"Sizes", 0, 3, {"Q1021", "Q1022", "Q1023", "Q1024"}, Qs(1021) + Qs(1022) + Qs(1023) + Qs(1024)},
    EntryCase{"StampedSizes", kStamp, 3, {"Q1006", "Q1007", "Q1008", "Q1009"}, Qs(1006, kP) + Qs(1007, kP) + Qs(1008, kP) + Qs(1009, kP)},
    EntryCase{"ThreeMebibytes", 0, 3, {"P" + kBig + "\n", "Pz"}, kBig + "\r\nz"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Widths saturate instead of wrapping; an impossible width refuses every append; the cache
// stops at the largest signed 32-bit length, the CR before a final LF and the width included.
TEST(LogFormat, IndentWidthAndCacheLengthStayWithin32Bits) {
    FormatLog wide(0, 0x40000000);
    EXPECT_EQ(wide.GetIndent(2), INT_MAX);
    EXPECT_EQ(wide.GetIndent(-3), INT_MIN);
    wide.indentLevel = 2;
    EXPECT_EQ(wide.FuncBegin(0, "F") + test::Log(wide, "x\n") + wide.FuncEnd(0), 0);
    EXPECT_EQ(wide.GetCache(), "");
    FormatLog full(0, INT_MAX - 5);
    full.indentLevel = 1;
    for (const auto& [before, text, result] :
         {std::tuple{"x", "abcd", 1}, {"xy", "abcd", 0}, {"x", "abc\n", 0}}) {
        full.cache = before;
        EXPECT_EQ(full.AppendText(text, 4, false), result) << before << text;
    }
    CLog unopened;
    EXPECT_EQ(unopened.FuncBegin(0, "F") + unopened.FuncEnd(0), 0);
    FormatLog plain;
    EXPECT_EQ(test::Log(plain, nullptr), 0);
}

// The summary goes straight to the file, bypassing the cache and its line state.
TEST(LogFormat, SummaryBlock) {
    const std::string expected =
        "\r\nProcess ID: 0x1f4\r\nThe thread ID is 0x00000a1c\r\nLog Time: "
        "2026/12/04 16:05:21:031\r\n" +
        std::string(72, '/') + "\r\n\r\n";
    const std::string path = test::MakeTempDir("summary") + kSep + "s.log";
    for (uint32_t html : {0u, static_cast<uint32_t>(LogModeHtml)}) {
        FormatLog log(html);
        ASSERT_TRUE(log.file.Open(path, platform::FileOpenMode::CreateOrEmptyReadWrite));
        EXPECT_EQ(log.WriteSummary(), 1);
        log.file.Close();
        EXPECT_EQ(test::ReadFile(path),
                  html ? expected + kHtmlEndBlock + kHtmlClosingLine : expected);
        test::Log(log, "x");
        log.FuncBegin(0, "F");
        EXPECT_EQ(log.GetCache(), "x\r\nF\r\n{\r\n");
    }
}

std::string Le(uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

struct Layout {
    const char* name;
    uint32_t headerSize, width, height, bitCount, compression, imageSize, colorsUsed;
    size_t bodyBytes;  // the caller's bytes after the header: masks, colours, pixels
    // The file's size (0: refused, an empty file), where its pixels start, and the image size
    // the caller's header holds afterwards.
    uint32_t fileSize, bitsOffset, storedImageSize;
};

class BitmapLayoutTest : public ::testing::TestWithParam<Layout> {};

// The buffer holds exactly what the header claims; the guard bytes after it never reach the file.
TEST_P(BitmapLayoutTest, FileSizeAndPixelOffset) {
    const Layout& c = GetParam();
    std::string dib = Le(c.headerSize) + Le(c.width) + Le(c.height) + Le(1u | c.bitCount << 16) +
                      Le(c.compression) + Le(c.imageSize) + Le(2835) + Le(2835) + Le(c.colorsUsed) +
                      Le(0);
    for (size_t i = 0; i < c.bodyBytes; ++i) dib += static_cast<char>(i * 7 + 1);
    dib += std::string(16, '\xEE');
    FormatLog log(0, 3, true);
    EXPECT_EQ(test::Picture(log, "shot.bmp", dib.data(), "x"), 1);
    EXPECT_EQ(log.GetCache(), Tag("shot.bmp") + "x");
    EXPECT_TRUE(test::PathExists(log.Image("shot.bmp")));
    EXPECT_EQ(dib.substr(20, 4), Le(c.fileSize ? c.storedImageSize : c.imageSize));
    EXPECT_EQ(test::ReadFile(log.Image("shot.bmp")), c.fileSize ? "BM" + Le(c.fileSize) + Le(0) +
                                                                      Le(c.bitsOffset) +
                                                                      dib.substr(0, c.fileSize - 14)
                                                                : "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Headers, BitmapLayoutTest, ::testing::Values(
    Layout{"Rgb", 40, 1, 1, 24, 0, 0, 0, 4, 58, 54, 4},
    // Up to 8 bits the colour table is as long as the bit count allows, unless colours used
    // says otherwise; rows are padded to 32 bits.
    Layout{"EightBits", 40, 3, 2, 8, 0, 0, 0, 1024 + 8, 1086, 1078, 8},
    Layout{"FourBitsThreeColours", 40, 8, 1, 4, 0, 0, 3, 12 + 4, 70, 66, 4},
    Layout{"OneBit", 40, 33, 1, 1, 0, 0, 0, 8 + 8, 70, 62, 8},
    // Run lengths keep the caller's image size.
    Layout{"Rle8", 40, 100, 50, 8, 1, 10, 0, 1024 + 10, 1088, 1078, 10},
    Layout{"Rle4", 40, 100, 50, 4, 2, 10, 0, 64 + 10, 128, 118, 10},
    // Top-down: as many rows as the height's magnitude; the height stays negative.
    Layout{"TopDown", 40, 2, uint32_t(-3), 24, 0, 0, 0, 24, 78, 54, 24},
    // Colour masks sit between header and pixels.
    Layout{"BitFields", 40, 2, 2, 16, 3, 0, 0, 12 + 8, 74, 66, 8},
    Layout{"AlphaBitFields", 40, 1, 2, 32, 6, 0, 0, 16 + 8, 78, 70, 8},
    Layout{"CoreHeader", 12, 1, 1, 24, 0, 0, 0, 4, 0, 0, 0},
    Layout{"NegativeWidth", 40, uint32_t(-1), 1, 24, 0, 0, 0, 4, 0, 0, 0},
    Layout{"RowBitsPast32Bits", 40, 0x7FFFFFFF, 1, 8, 0, 0, 0, 0, 0, 0, 0},
    Layout{"ImagePast32Bits", 40, 1024, 0x100000, 32, 0, 0, 0, 0, 0, 0, 0},
    Layout{"TopDownImagePast32Bits", 40, 1024, uint32_t(-0x100000), 32, 0, 0, 0, 0, 0, 0, 0},
    Layout{"LowestHeight", 40, 32, 0x80000000u, 1, 0, 0, 0, 0, 0, 0, 0},
    Layout{"FilePast32Bits", 40, 1, 0x3FFFFFFF, 32, 0, 0, 0, 0, 0, 0, 0},
    Layout{"ColoursPastTheBitCount", 40, 1, 1, 8, 0, 0, 257, 0, 0, 0, 0},
    Layout{"ColoursPastA16BitTable", 40, 1, 1, 8, 0, 0, 0x40000000, 0, 0, 0, 0},
    Layout{"ColoursOn24Bits", 40, 1, 1, 24, 0, 0, 0x4000, 0, 0, 0, 0},
    Layout{"RunLengthsWithoutSize", 40, 1, 1, 8, 1, 0, 0, 1024, 0, 0, 0},
    Layout{"RunLengthsPast32Bits", 40, 1, 1, 8, 1, 0xFFFFFFF0u, 0, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Given names stay inside img; names that would be markup in the tag make neither file nor
// entry; made-up names count up; a missing img folder is made again; a snapshot cut short
// (either write, or the close) leaves neither file nor entry; no folder, no file anywhere.
TEST(BitmapSnapshot, NamesAndFileFailures) {
    FormatLog log(0, 3, true);
    std::filesystem::create_directory(log.Image("sub"));
    const char rgb[44] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24};
    for (const char* name : {"../escaped.bmp", "sub/inner.bmp", "sub\\inner.bmp", "..", ".", "",
                             "/tmp/absolute.bmp"}) {
        EXPECT_EQ(test::Picture(log, name, rgb, "x"), 1) << name;
        EXPECT_EQ(log.GetCache().substr(log.GetCache().size() - Tag(name).size() - 1),
                  Tag(name) + "x");
    }
    for (const std::string& path :
         {log.root + kSep + "escaped.bmp", log.Image("sub") + kSep + "inner.bmp",
          log.Image("sub\\inner.bmp")})
        EXPECT_FALSE(test::PathExists(path)) << path;
    for (const char* name : {"x\" onerror=\"y.bmp", "a<b.bmp", "a>b.bmp", "a&amp;b.bmp"}) {
        const std::string before = log.GetCache();
        EXPECT_EQ(test::Picture(log, name, rgb, "x"), 0) << name;
        EXPECT_EQ(log.GetCache(), before) << name;
        EXPECT_FALSE(test::PathExists(log.Image(name))) << name;
    }
    FormatLog made(0, 3, true);
    std::filesystem::remove(made.root + kSep + "img");
    EXPECT_EQ(
        test::Picture(made, nullptr, nullptr, "a\n") + test::Picture(made, nullptr, nullptr, "b"),
        2);
    EXPECT_EQ(test::Picture(made, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(made.GetCache(),
              Tag("0x1f4_0xa1c_00000000.bmp") + "a\r\n" + Tag("0x1f4_0xa1c_00000001.bmp") + "b");
    EXPECT_EQ(test::ReadFile(made.Image("0x1f4_0xa1c_00000001.bmp")), "");
    EXPECT_FALSE(test::PathExists(made.Image("0x1f4_0xa1c_00000002.bmp")));
    for (auto [fault, skip] :
         {std::pair{Fault::FileWrite, 0}, {Fault::FileWrite, 1}, {Fault::FileClose, 0}}) {
        FormatLog partial(0, 3, true);
        platform::testing::FailAfter(fault, skip);
        EXPECT_EQ(test::Picture(partial, "part.bmp", rgb, "x\n"), 0) << skip;
        platform::testing::ClearFaults();
        EXPECT_FALSE(test::PathExists(partial.Image("part.bmp"))) << skip;
        EXPECT_EQ(partial.GetCache(), "") << skip;
    }
    FormatLog homeless(0, 3, true);
    homeless.folder = "";
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(homeless.root);
    EXPECT_EQ(test::Picture(homeless, "stray.bmp", rgb, "x"), 1);
    std::filesystem::current_path(previous);
    EXPECT_FALSE(test::PathExists(homeless.root + kSep + "stray.bmp") ||
                 test::PathExists(homeless.Image("stray.bmp")));
}

}  // namespace
}  // namespace vantrel
