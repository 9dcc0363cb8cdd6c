// Bitmap snapshots: the BMP files, their names in the img folder, and the entry that links
// to them.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "log/clog.h"
#include "log/log_mode.h"
#include "platform/critical_section.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

// A log with a real img folder whose entry text stays in its cache.
class SnapshotLog : public CLog {
  public:
    explicit SnapshotLog(uint32_t modeBits = 0) {
        lock = std::make_unique<platform::CriticalSection>();
        mode = modeBits | LogModeNoFileOutput;
        indentSize = 3;
        processId = 0x12c;
        threadId = 0x9f0;
        root_ = test::MakeTempDir("snapshot");
        std::filesystem::create_directory(root_ + "/img");
        folder = root_ + "/";
    }

    using CLog::DibNumColors;
    using CLog::PaletteSize;

    int32_t Draw(const char* imageName, void* bitmap, const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int32_t result = DrawBitmap(0, imageName, bitmap, format, args);
        va_end(args);
        return result;
    }

    std::string ImagePath(const std::string& name) const { return root_ + "/img/" + name; }
    std::string Snapshot(const std::string& name) const { return test::ReadFile(ImagePath(name)); }
    const std::string& Root() const { return root_; }
    int32_t BitmapCount() const { return bitmapCount; }
    void SetFolder(const std::string& path) { folder = path; }
    void SetCache(const std::string& text) { cache = text; }
    void SetIndentLevel(int32_t level) { indentLevel = level; }

  private:
    std::string root_;
};

std::string Tag(const std::string& name) {
    return "<img src=\"img/" + name + "\" border=\"0\" align=\"bottom\" alt=\"" + name + "\">";
}

void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

uint32_t GetLe32(const std::vector<uint8_t>& bytes, size_t at) {
    return GetLe32(std::string(bytes.begin(), bytes.end()), at);
}

struct DibShape {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    uint32_t colorsUsed = 0;
    size_t bodyBytes = 0;  // bytes after the header: masks, colour table, pixels

    DibShape& Header(uint32_t size) {
        headerSize = size;
        return *this;
    }
    DibShape& Dimensions(int32_t w, int32_t h) {
        width = w;
        height = h;
        return *this;
    }
    DibShape& Bits(uint16_t bits) {
        bitCount = bits;
        return *this;
    }
    DibShape& Compression(uint32_t value) {
        compression = value;
        return *this;
    }
    DibShape& ImageSize(uint32_t value) {
        imageSize = value;
        return *this;
    }
    DibShape& Colors(uint32_t value) {
        colorsUsed = value;
        return *this;
    }
    DibShape& Body(size_t value) {
        bodyBytes = value;
        return *this;
    }
};

// A packed bitmap whose body bytes count up, followed by guard bytes that must never reach
// a file.
std::vector<uint8_t> MakeDib(const DibShape& shape) {
    std::vector<uint8_t> dib(40 + shape.bodyBytes + 16, 0xEE);
    PutLe32(dib, 0, shape.headerSize);
    PutLe32(dib, 4, static_cast<uint32_t>(shape.width));
    PutLe32(dib, 8, static_cast<uint32_t>(shape.height));
    dib[12] = 1;
    dib[13] = 0;
    dib[14] = static_cast<uint8_t>(shape.bitCount);
    dib[15] = static_cast<uint8_t>(shape.bitCount >> 8);
    PutLe32(dib, 16, shape.compression);
    PutLe32(dib, 20, shape.imageSize);
    PutLe32(dib, 24, 2835);
    PutLe32(dib, 28, 2835);
    PutLe32(dib, 32, shape.colorsUsed);
    PutLe32(dib, 36, 0);
    for (size_t i = 0; i < shape.bodyBytes; ++i) dib[40 + i] = static_cast<uint8_t>(i * 7 + 1);
    return dib;
}

// Checks a snapshot file: its header, and that the rest is the caller's bitmap, byte for byte.
void ExpectBmp(const std::string& file, const std::vector<uint8_t>& dib, uint32_t fileSize,
               uint32_t bitsOffset) {
    ASSERT_EQ(file.size(), fileSize);
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(GetLe32(file, 2), fileSize);
    EXPECT_EQ(GetLe32(file, 6), 0u);
    EXPECT_EQ(GetLe32(file, 10), bitsOffset);
    EXPECT_EQ(file.substr(14), std::string(dib.begin(), dib.begin() + (fileSize - 14)));
}

TEST(BitmapSnapshot, MadeUpNamesCountUpAndEntryLinksThem) {
    SnapshotLog log;
    std::vector<uint8_t> dib = MakeDib(DibShape().Body(4));
    EXPECT_EQ(log.Draw(nullptr, dib.data(), "Frame\n"), 1);
    EXPECT_EQ(log.Draw(nullptr, dib.data(), "Frame %d\n", 2), 1);
    EXPECT_EQ(log.GetCache(), Tag("0x12c_0x9f0_00000000.bmp") + "Frame\r\n" +
                                  Tag("0x12c_0x9f0_00000001.bmp") + "Frame 2\r\n");
    EXPECT_EQ(log.Snapshot("0x12c_0x9f0_00000000.bmp").size(), 58u);
    EXPECT_EQ(log.Snapshot("0x12c_0x9f0_00000001.bmp").size(), 58u);
    EXPECT_EQ(log.BitmapCount(), 2);
}

TEST(BitmapSnapshot, GivenNameIsUsedUnchanged) {
    SnapshotLog log;
    std::vector<uint8_t> dib = MakeDib(DibShape().Body(4));
    EXPECT_EQ(log.Draw("shot", dib.data(), "%s", "caption"), 1);
    EXPECT_EQ(log.GetCache(), Tag("shot") + "caption");
    EXPECT_EQ(log.Snapshot("shot").size(), 58u);
    EXPECT_EQ(log.BitmapCount(), 0);
    log.Draw(nullptr, dib.data(), "\n");
    EXPECT_TRUE(test::PathExists(log.ImagePath("0x12c_0x9f0_00000000.bmp")));
}

TEST(BitmapSnapshot, EntryCarriesIndentationAndTimeStamp) {
    platform::SystemTime now;
    now.hour = 16;
    now.minute = 5;
    now.second = 21;
    now.milliseconds = 31;
    platform::testing::SetFakeLocalTime(&now);
    SnapshotLog log(LogModeTimeStamp);
    log.SetIndentLevel(2);
    EXPECT_EQ(log.Draw("a.bmp", nullptr, "Frame\n"), 1);
    platform::testing::SetFakeLocalTime(nullptr);
    EXPECT_EQ(log.GetCache(), "      " + Tag("a.bmp") + "(16:05:21:031) Frame\r\n");
}

TEST(BitmapSnapshot, PalettedBitmapTakesItsDefaultColourTable) {
    SnapshotLog log;
    std::vector<uint8_t> dib = MakeDib(DibShape().Dimensions(3, 2).Bits(8).Body(1024 + 8));
    ASSERT_EQ(log.Draw("eight.bmp", dib.data(), "\n"), 1);
    ExpectBmp(log.Snapshot("eight.bmp"), dib, 1086, 1078);
    EXPECT_EQ(GetLe32(dib, 20), 8u);  // the caller learns the computed size
    EXPECT_EQ(log.DibNumColors(dib.data()), 256u);
    EXPECT_EQ(log.PaletteSize(dib.data()), 1024u);

    std::vector<uint8_t> rgb = MakeDib(DibShape().Body(4));
    ASSERT_EQ(log.Draw("rgb.bmp", rgb.data(), "\n"), 1);
    ExpectBmp(log.Snapshot("rgb.bmp"), rgb, 58, 54);
    EXPECT_EQ(log.PaletteSize(rgb.data()), 0u);

    // Colours used overrides the default of the bit count.
    std::vector<uint8_t> few = MakeDib(DibShape().Dimensions(8, 1).Bits(4).Colors(3).Body(12 + 4));
    ASSERT_EQ(log.Draw("few.bmp", few.data(), "\n"), 1);
    ExpectBmp(log.Snapshot("few.bmp"), few, 14 + 40 + 12 + 4, 66);
    EXPECT_EQ(log.DibNumColors(few.data()), 3u);
}

TEST(BitmapSnapshot, RunLengthBitmapKeepsItsImageSize) {
    SnapshotLog log;
    for (uint32_t compression : {1u, 2u}) {
        const uint16_t bits = compression == 1 ? 8 : 4;
        const size_t table = compression == 1 ? 1024 : 64;
        std::vector<uint8_t> dib = MakeDib(DibShape()
                                               .Dimensions(100, 50)
                                               .Bits(bits)
                                               .Compression(compression)
                                               .ImageSize(10)
                                               .Body(table + 10));
        ASSERT_EQ(log.Draw("rle.bmp", dib.data(), "\n"), 1);
        ExpectBmp(log.Snapshot("rle.bmp"), dib, 14 + 40 + table + 10, 54 + table);
        EXPECT_EQ(GetLe32(dib, 20), 10u);
    }
}

TEST(BitmapSnapshot, TopDownAndBitFieldBitmapsAreValidFiles) {
    SnapshotLog log;
    // Three rows of two 24-bit pixels, padded to 8 bytes each; the height stays negative.
    std::vector<uint8_t> topDown = MakeDib(DibShape().Dimensions(2, -3).Body(24));
    ASSERT_EQ(log.Draw("top.bmp", topDown.data(), "\n"), 1);
    ExpectBmp(log.Snapshot("top.bmp"), topDown, 54 + 24, 54);
    EXPECT_EQ(GetLe32(topDown, 20), 24u);
    EXPECT_EQ(GetLe32(topDown, 8), static_cast<uint32_t>(-3));

    // The colour masks sit between header and pixels and count in the pixel offset.
    std::vector<uint8_t> masks =
        MakeDib(DibShape().Dimensions(2, 2).Bits(16).Compression(3).Body(12 + 8));
    ASSERT_EQ(log.Draw("masks.bmp", masks.data(), "\n"), 1);
    ExpectBmp(log.Snapshot("masks.bmp"), masks, 54 + 12 + 8, 66);

    std::vector<uint8_t> alpha =
        MakeDib(DibShape().Dimensions(1, 2).Bits(32).Compression(6).Body(16 + 8));
    ASSERT_EQ(log.Draw("alpha.bmp", alpha.data(), "\n"), 1);
    ExpectBmp(log.Snapshot("alpha.bmp"), alpha, 54 + 16 + 8, 70);
}

TEST(BitmapSnapshot, HeadersThatCannotBeStoredLeaveAnEmptyFile) {
    struct Case {
        const char* what;
        DibShape shape;
    };
    const Case cases[] = {
        {"core header", DibShape().Header(12)},
        {"negative width", DibShape().Dimensions(-1, 1)},
        {"row bits past 32 bits", DibShape().Dimensions(0x7FFFFFFF, 1).Bits(8)},
        {"image past 32 bits", DibShape().Dimensions(1024, 0x100000).Bits(32)},
        {"top-down image past 32 bits", DibShape().Dimensions(1024, -0x100000).Bits(32)},
        {"lowest height", DibShape().Dimensions(32, INT32_MIN).Bits(1)},
        {"file past 32 bits", DibShape().Dimensions(1, 0x3FFFFFFF).Bits(32)},
        {"colours beyond 8 bits", DibShape().Bits(8).Colors(257)},
        {"colours past 16-bit table", DibShape().Bits(8).Colors(0x40000000)},
        {"colours on 24 bits", DibShape().Bits(24).Colors(0x4000)},
        {"run lengths without size", DibShape().Bits(8).Compression(1).ImageSize(0).Body(1024)},
        {"run lengths past 32 bits", DibShape().Bits(8).Compression(1).ImageSize(0xFFFFFFF0u)},
    };
    SnapshotLog log;
    for (const Case& c : cases) {
        std::vector<uint8_t> dib = MakeDib(c.shape);
        const std::vector<uint8_t> before = dib;
        EXPECT_EQ(log.Draw("bad.bmp", dib.data(), "%s\n", c.what), 1) << c.what;
        EXPECT_TRUE(test::PathExists(log.ImagePath("bad.bmp"))) << c.what;
        EXPECT_EQ(log.Snapshot("bad.bmp"), "") << c.what;
        EXPECT_EQ(dib, before) << c.what;
    }
    EXPECT_EQ(log.PaletteSize(MakeDib(DibShape().Bits(8).Colors(0x40000000)).data()), 0u);

    // No bitmap at all: an empty file and a normal entry.
    SnapshotLog none;
    EXPECT_EQ(none.Draw(nullptr, nullptr, "Frame\n"), 1);
    EXPECT_EQ(none.Snapshot("0x12c_0x9f0_00000000.bmp"), "");
    EXPECT_EQ(none.GetCache(), Tag("0x12c_0x9f0_00000000.bmp") + "Frame\r\n");
}

TEST(BitmapSnapshot, GivenNamesCannotLeaveTheImageFolder) {
    SnapshotLog log;
    std::vector<uint8_t> dib = MakeDib(DibShape().Body(4));
    std::filesystem::create_directory(log.Root() + "/img/sub");
    for (const char* name : {"../escaped.bmp", "sub/inner.bmp", "sub\\inner.bmp", "..", ".", "",
                             "/tmp/absolute.bmp"}) {
        log.SetCache("");
        EXPECT_EQ(log.Draw(name, dib.data(), "x"), 1) << name;
        EXPECT_EQ(log.GetCache(), Tag(name) + "x") << name;
    }
    // Names that would turn into markup in the tag make neither file nor entry.
    for (const char* name : {"x\" onerror=\"y.bmp", "a<b.bmp", "a>b.bmp", "a&amp;b.bmp"}) {
        log.SetCache("");
        EXPECT_EQ(log.Draw(name, dib.data(), "x"), 0) << name;
        EXPECT_EQ(log.GetCache(), "") << name;
        EXPECT_FALSE(test::PathExists(log.ImagePath(name))) << name;
    }
    EXPECT_FALSE(test::PathExists(log.Root() + "/escaped.bmp"));
    EXPECT_FALSE(test::PathExists(log.Root() + "/img/sub/inner.bmp"));
    EXPECT_FALSE(test::PathExists(log.Root() + "/img/sub\\inner.bmp"));
    EXPECT_EQ(log.BitmapCount(), 0);

    // A log without a folder writes nothing, not even relative to the working folder.
    SnapshotLog homeless;
    homeless.SetFolder("");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(homeless.Root());
    EXPECT_EQ(homeless.Draw("stray.bmp", dib.data(), "x"), 1);
    std::filesystem::current_path(previous);
    EXPECT_FALSE(test::PathExists(homeless.ImagePath("stray.bmp")));
}

TEST(BitmapSnapshot, FileFailures) {
    std::vector<uint8_t> dib = MakeDib(DibShape().Body(4));

    // A missing img folder: no file, but the entry is made.
    SnapshotLog missing;
    std::filesystem::remove(missing.Root() + "/img");
    EXPECT_EQ(missing.Draw("gone.bmp", dib.data(), "x\n"), 1);
    EXPECT_EQ(missing.GetCache(), Tag("gone.bmp") + "x\r\n");

    // A snapshot cut short (either write, or the close) leaves neither a file nor an entry.
    for (auto [fault, skip] : {std::pair{platform::testing::Fault::FileWrite, 0},
                               std::pair{platform::testing::Fault::FileWrite, 1},
                               std::pair{platform::testing::Fault::FileClose, 0}}) {
        SnapshotLog partial;
        platform::testing::FailAfter(fault, skip);
        EXPECT_EQ(partial.Draw("part.bmp", dib.data(), "x\n"), 0) << skip;
        platform::testing::ClearFaults();
        EXPECT_FALSE(test::PathExists(partial.ImagePath("part.bmp"))) << skip;
        EXPECT_EQ(partial.GetCache(), "") << skip;
    }

    // Without a format there is no entry and no file.
    SnapshotLog noFormat;
    EXPECT_EQ(noFormat.Draw(nullptr, dib.data(), nullptr), 0);
    EXPECT_EQ(noFormat.BitmapCount(), 0);
    EXPECT_FALSE(test::PathExists(noFormat.ImagePath("0x12c_0x9f0_00000000.bmp")));
}

TEST(BitmapSnapshot, LongCaptionsAreKeptWhole) {
    SnapshotLog log;
    const std::string caption(2 * 1024 * 1024, 'c');
    EXPECT_EQ(log.Draw("long.bmp", nullptr, "%s\n", caption.c_str()), 1);
    EXPECT_EQ(log.GetCache(), Tag("long.bmp") + caption + "\r\n");
}

}  // namespace
}  // namespace vantrel
