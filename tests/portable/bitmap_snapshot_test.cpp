// Bitmap snapshots: the BMP file's layout for every header shape (or its refusal), the names
// in the img folder, and the entry that links to them.
#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "log/clog.h"
#include "log/log_mode.h"
#include "platform/critical_section.h"
#include "platform/platform_config.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::FailAfter;
using platform::testing::Fault;

const std::string kSep(1, platform::kPathSeparator);

// A log with a real img folder whose entry text stays in its cache.
class SnapshotLog : public CLog {
  public:
    explicit SnapshotLog(uint32_t modeBits = 0) {
        lock = std::make_unique<platform::CriticalSection>();
        mode = modeBits | LogModeNoFileOutput;
        indentSize = 3;
        processId = 0x12c;
        threadId = 0x9f0;
        std::filesystem::create_directory(root + kSep + "img");
        folder = root + kSep;
    }
    int32_t Draw(const char* imageName, const void* bitmap, const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int32_t result = DrawBitmap(0, imageName, const_cast<void*>(bitmap), format, args);
        va_end(args);
        return result;
    }
    std::string ImagePath(const std::string& name) const {
        return root + kSep + "img" + kSep + name;
    }
    using CLog::folder;
    using CLog::indentLevel;
    const std::string root = test::MakeTempDir("snapshot");
};

std::string Tag(const std::string& name) {
    return "<img src=\"img/" + name + "\" border=\"0\" align=\"bottom\" alt=\"" + name + "\">";
}

uint32_t GetLe32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// Written to: the library stores the image size in the caller's header.
char rgbHeader[44] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24};

struct Layout {
    const char* name;
    uint32_t headerSize;
    int32_t width, height;
    uint32_t bitCount, compression, imageSize, colorsUsed;
    size_t bodyBytes;  // the caller's bytes after the header: masks, colours, pixels
    // The file's size (0: refused, the file stays empty and the header unchanged), where its
    // pixels start, and the image size the caller's header holds afterwards.
    uint32_t fileSize, bitsOffset, storedImageSize;
};

class BitmapLayoutTest : public ::testing::TestWithParam<Layout> {};

// The buffer holds exactly what the header claims, then guard bytes that must never reach
// the file.
TEST_P(BitmapLayoutTest, FileSizeAndPixelOffset) {
    const Layout& c = GetParam();
    std::string dib(40 + c.bodyBytes + 16, '\xEE');
    const uint32_t fields[] = {c.headerSize,
                               static_cast<uint32_t>(c.width),
                               static_cast<uint32_t>(c.height),
                               1u | c.bitCount << 16,
                               c.compression,
                               c.imageSize,
                               2835,
                               2835,
                               c.colorsUsed,
                               0};
    for (size_t i = 0; i < 40; ++i) dib[i] = static_cast<char>(fields[i / 4] >> (8 * (i % 4)));
    for (size_t i = 0; i < c.bodyBytes; ++i) dib[40 + i] = static_cast<char>(i * 7 + 1);
    const std::string before = dib;
    SnapshotLog log;
    EXPECT_EQ(log.Draw("shot.bmp", dib.data(), "x"), 1);
    EXPECT_EQ(log.GetCache(), Tag("shot.bmp") + "x");
    const std::string file = test::ReadFile(log.ImagePath("shot.bmp"));
    EXPECT_TRUE(test::PathExists(log.ImagePath("shot.bmp")));
    EXPECT_EQ(file.size(), c.fileSize);
    if (c.fileSize == 0) {
        EXPECT_EQ(dib, before);
        return;
    }
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(GetLe32(file, 2), c.fileSize);
    EXPECT_EQ(GetLe32(file, 6), 0u);
    EXPECT_EQ(GetLe32(file, 10), c.bitsOffset);
    EXPECT_EQ(GetLe32(dib, 20), c.storedImageSize);
    EXPECT_EQ(file.substr(14), dib.substr(0, c.fileSize - 14));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Headers, BitmapLayoutTest,
    ::testing::Values(
        Layout{"Rgb", 40, 1, 1, 24, 0, 0, 0, 4, 58, 54, 4},
        // Up to 8 bits the colour table is as long as the bit count allows, unless colours
        // used says otherwise; rows are padded to 32 bits.
        Layout{"EightBits", 40, 3, 2, 8, 0, 0, 0, 1024 + 8, 1086, 1078, 8},
        Layout{"FourBitsThreeColours", 40, 8, 1, 4, 0, 0, 3, 12 + 4, 70, 66, 4},
        Layout{"OneBit", 40, 33, 1, 1, 0, 0, 0, 8 + 8, 70, 62, 8},
        // Run lengths keep the caller's image size.
        Layout{"Rle8", 40, 100, 50, 8, 1, 10, 0, 1024 + 10, 1088, 1078, 10},
        Layout{"Rle4", 40, 100, 50, 4, 2, 10, 0, 64 + 10, 128, 118, 10},
        // Top-down: as many rows as the height's magnitude; the height stays negative.
        Layout{"TopDown", 40, 2, -3, 24, 0, 0, 0, 24, 78, 54, 24},
        // Colour masks sit between header and pixels.
        Layout{"BitFields", 40, 2, 2, 16, 3, 0, 0, 12 + 8, 74, 66, 8},
        Layout{"AlphaBitFields", 40, 1, 2, 32, 6, 0, 0, 16 + 8, 78, 70, 8},
        Layout{"CoreHeader", 12, 1, 1, 24, 0, 0, 0, 4, 0, 0, 0},
        Layout{"NegativeWidth", 40, -1, 1, 24, 0, 0, 0, 4, 0, 0, 0},
        Layout{"RowBitsPast32Bits", 40, 0x7FFFFFFF, 1, 8, 0, 0, 0, 0, 0, 0, 0},
        Layout{"ImagePast32Bits", 40, 1024, 0x100000, 32, 0, 0, 0, 0, 0, 0, 0},
        Layout{"TopDownImagePast32Bits", 40, 1024, -0x100000, 32, 0, 0, 0, 0, 0, 0, 0},
        Layout{"LowestHeight", 40, 32, INT32_MIN, 1, 0, 0, 0, 0, 0, 0, 0},
        Layout{"FilePast32Bits", 40, 1, 0x3FFFFFFF, 32, 0, 0, 0, 0, 0, 0, 0},
        Layout{"ColoursPastTheBitCount", 40, 1, 1, 8, 0, 0, 257, 0, 0, 0, 0},
        Layout{"ColoursPastA16BitTable", 40, 1, 1, 8, 0, 0, 0x40000000, 0, 0, 0, 0},
        Layout{"ColoursOn24Bits", 40, 1, 1, 24, 0, 0, 0x4000, 0, 0, 0, 0},
        Layout{"RunLengthsWithoutSize", 40, 1, 1, 8, 1, 0, 0, 1024, 0, 0, 0},
        Layout{"RunLengthsPast32Bits", 40, 1, 1, 8, 1, 0xFFFFFFF0u, 0, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(BitmapSnapshot, GivenNamesCannotLeaveTheImageFolder) {
    SnapshotLog log;
    std::filesystem::create_directory(log.ImagePath("sub"));
    for (const char* name : {"../escaped.bmp", "sub/inner.bmp", "sub\\inner.bmp", "..", ".", "",
                             "/tmp/absolute.bmp"}) {
        EXPECT_EQ(log.Draw(name, rgbHeader, "x"), 1) << name;
        EXPECT_EQ(log.GetCache().substr(log.GetCache().size() - Tag(name).size() - 1),
                  Tag(name) + "x");
    }
    for (const std::string& path :
         {log.root + kSep + "escaped.bmp", log.ImagePath("sub") + kSep + "inner.bmp",
          log.ImagePath("sub\\inner.bmp")})
        EXPECT_FALSE(test::PathExists(path)) << path;
    // Names that would turn into markup in the tag make neither file nor entry.
    for (const char* name : {"x\" onerror=\"y.bmp", "a<b.bmp", "a>b.bmp", "a&amp;b.bmp"}) {
        const std::string before = log.GetCache();
        EXPECT_EQ(log.Draw(name, rgbHeader, "x"), 0) << name;
        EXPECT_EQ(log.GetCache(), before) << name;
        EXPECT_FALSE(test::PathExists(log.ImagePath(name))) << name;
    }
    // A log without a folder writes nothing, not even relative to the working folder.
    SnapshotLog homeless;
    homeless.folder = "";
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(homeless.root);
    EXPECT_EQ(homeless.Draw("stray.bmp", rgbHeader, "x"), 1);
    std::filesystem::current_path(previous);
    EXPECT_FALSE(test::PathExists(homeless.root + kSep + "stray.bmp"));
    EXPECT_FALSE(test::PathExists(homeless.ImagePath("stray.bmp")));
}

// Made-up names count up, an empty file where no bitmap is given; a missing img folder is
// made again; a snapshot cut short (either write, or the close) leaves neither file nor entry.
TEST(BitmapSnapshot, MadeUpNamesAndFileFailures) {
    SnapshotLog made;
    EXPECT_EQ(made.Draw(nullptr, nullptr, "a"), 1);
    EXPECT_EQ(made.Draw(nullptr, nullptr, "b"), 1);
    EXPECT_EQ(made.Draw(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(test::ReadFile(made.ImagePath("0x12c_0x9f0_00000001.bmp")), "");
    EXPECT_FALSE(test::PathExists(made.ImagePath("0x12c_0x9f0_00000002.bmp")));
    SnapshotLog missing;
    std::filesystem::remove(missing.root + kSep + "img");
    EXPECT_EQ(missing.Draw("gone.bmp", nullptr, "x\n"), 1);
    EXPECT_EQ(missing.GetCache(), Tag("gone.bmp") + "x\r\n");
    EXPECT_TRUE(test::PathExists(missing.ImagePath("gone.bmp")));
    for (auto [fault, skip] : {std::pair{Fault::FileWrite, 0}, std::pair{Fault::FileWrite, 1},
                               std::pair{Fault::FileClose, 0}}) {
        SnapshotLog partial;
        FailAfter(fault, skip);
        EXPECT_EQ(partial.Draw("part.bmp", rgbHeader, "x\n"), 0) << skip;
        platform::testing::ClearFaults();
        EXPECT_FALSE(test::PathExists(partial.ImagePath("part.bmp"))) << skip;
        EXPECT_EQ(partial.GetCache(), "") << skip;
    }
}

}  // namespace
}  // namespace vantrel
