// Hostile and odd input from the host: file names of every byte and length, image names that
// try to leave the img folder, every format conversion and entries over 1 MiB, function names
// full of "%" and binary bytes, bitmap headers of every size, bit count and compression.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log/dib_layout.h"
#include "log/log_mode.h"
#include "platform/file.h"
#include "support/host.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

std::set<std::string> FilesBelow(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        files.insert(entry.path().string().substr(folder.size()));
    return files;
}

TEST(HostileNames, EveryByteAndLengthOfLogNameIsHandled) {
    HostInstall host = InstallHost("names");
    Host session(host);
    ASSERT_EQ(session.Send("load"), "1");
    // A single character is never a usable name: no "." to name the thread logs by, or a
    // character a log name may not hold, or "." itself.
    for (int byte = 1; byte <= 255; ++byte) {
        char name[8];
        snprintf(name, sizeof name, "\\x%02x", byte);
        ASSERT_EQ(session.Send(std::string("printf|") + name + "|x\\n"), "0") << "byte " << byte;
    }
    EXPECT_EQ(session.Send("printf|..|x\\n"), "0");
    EXPECT_EQ(session.Send("printf|../up.log|x\\n"), "0");
    EXPECT_EQ(session.Send("printf|\\x2e\\x2e\\x2fup.log|x\\n"), "0");
    const std::string longest = std::string(251, 'n') + ".log";
    EXPECT_EQ(session.Send("printf|" + longest + "|fits\\n"), "1");
    EXPECT_EQ(session.Send("printf|" + longest + "x|too long\\n"), "0");
    EXPECT_EQ(session.Send("printf|ok.log|still fine\\n"), "1");
    EXPECT_EQ(session.Finish(), 0);

    const std::string folder = host.InstanceFolder(1);
    EXPECT_EQ(FilesBelow(host.folder + "/"),
              (std::set<std::string>{"names", "vantrel", "vantrel/names", "vantrel/names/proc1",
                                     "vantrel/names/proc1/img", "vantrel/names/proc1/ok.log",
                                     "vantrel/names/proc1/" + longest}));
    EXPECT_EQ(ReadFile(folder + "/" + longest).rfind("fits\r\n", 0), 0u);
}

TEST(HostileNames, ImageNamesNeverLeaveTheImgFolder) {
    HostInstall host = InstallHost("images");
    Host session(host);
    ASSERT_EQ(session.Send("load"), "1");
    ASSERT_EQ(session.Send("printf|pic.log|start\\n"), "1");
    const std::string outside = host.folder + "/absolute.bmp";
    for (const std::string& name :
         {std::string("../escape.bmp"), std::string("../../escape.bmp"), std::string(".."),
          std::string("."), outside, std::string("sub/x.bmp"), std::string("..\\\\x.bmp"),
          std::string("a/../../y.bmp"), std::string("\\x2e\\x2e\\x2fz.bmp")}) {
        // The entry is made; the file is not.
        EXPECT_EQ(session.Send("bitmap|pic.log|" + name + "|t\\n"), "1") << name;
    }
    EXPECT_EQ(session.Send("bitmap|pic.log|plain.bmp|t\\n"), "1");
    EXPECT_EQ(session.Finish(), 0);
    EXPECT_EQ(FilesBelow(host.InstanceFolder(1) + "/"),
              (std::set<std::string>{"img", "img/plain.bmp", "pic.log"}));
    EXPECT_FALSE(PathExists(outside));
    EXPECT_FALSE(PathExists(host.folder + "/vantrel/images/escape.bmp"));
}

// A log that writes its cache to a file on demand, for comparing entries byte for byte.
class EntryLog {
  public:
    explicit EntryLog(uint32_t mode = 0) : folder_(MakeTempDir("entries")) {
        log_.Open(1, nullptr, 2, mode, folder_.c_str(), "entries.log", INT32_MAX, 3);
    }
    ~EntryLog() { log_.Close(); }
    int32_t Printf(const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int32_t result = log_.Printf(0, format, args);
        va_end(args);
        return result;
    }
    CLog& log() { return log_; }
    // The text written so far (the file up to the write position).
    std::string Written() {
        EXPECT_EQ(log_.FlushCache(false), 1);
        log_.CloseFile();
        return ReadFile(folder_ + "/entries.log").substr(0, log_.GetWritePosition());
    }

  private:
    std::string folder_;
    CLog log_;
};

std::string Expected(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = vsnprintf(nullptr, 0, format, args);
    std::string text(static_cast<size_t>(size), '\0');
    vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    va_end(args);
    return text;
}

TEST(HostileFormats, EveryConversionFormatsAsTheCLibraryDoes) {
    EntryLog log;
    std::string expected;
    const wchar_t wide[] = L"wide";
    int marker = 0;
#define VANTREL_ENTRY(...)                     \
    do {                                       \
        EXPECT_EQ(log.Printf(__VA_ARGS__), 1); \
        expected += Expected(__VA_ARGS__);     \
    } while (0)
    VANTREL_ENTRY("%d %i %u %o %x %X|", -42, INT_MIN, UINT_MAX, 8u, 0xbeefu, 0xBEEFu);
    VANTREL_ENTRY("%e %E %f %F %g %G %a %A|", 1e300, -1e-300, 3.25, -0.0, 1e-5, 1e20, 1.0, -2.5);
    VANTREL_ENTRY("%f %f %f|", 1.0 / 0.0, -1.0 / 0.0, 0.0 / 0.0);
    VANTREL_ENTRY("%c%c %s %ls %p %%|", 'a', 0xff, "text", wide, static_cast<void*>(&marker));
    VANTREL_ENTRY("%hhd %hd %ld %lld %zu %jd %td %Lf|", 300, 70000, LONG_MIN, LLONG_MAX, SIZE_MAX,
                  INTMAX_MIN, static_cast<ptrdiff_t>(-1), 1.5L);
    VANTREL_ENTRY("%-*.*s|%+08.3f|%#x|% d|%'d|", 12, 3, "abcdef", 3.14159, 255u, 5, 1234567);
    VANTREL_ENTRY("%s", "");
    VANTREL_ENTRY("%5$s %4$s %3$s %2$s %1$s|", "a", "b", "c", "d", "e");
#undef VANTREL_ENTRY
    // A format the C library rejects is a failed call, not a crash or a partial entry.
    EXPECT_EQ(log.Printf("a lone percent at the end %"), 0);
    EXPECT_EQ(log.Written(), expected);
}

TEST(HostileFormats, EntriesOverOneMebibyteArriveWhole) {
    EntryLog log;
    const std::string big(3 * 1024 * 1024 + 17, 'q');
    ASSERT_EQ(log.Printf("%s\n", big.c_str()), 1);
    ASSERT_EQ(log.Printf("%*d\n", 2 * 1024 * 1024, 7), 1);
    const std::string text = log.Written();
    EXPECT_EQ(text, big + "\r\n" + std::string(2 * 1024 * 1024 - 1, ' ') + "7\r\n");
}

TEST(HostileFormats, FunctionNamesAreTakenLiterally) {
    EntryLog log(LogModeNoFileOutput);
    std::string name = "%s%n%d%%%p %999999999d";
    for (int byte = 1; byte <= 255; ++byte) {
        if (byte != '\n' && byte != '\r') name += static_cast<char>(byte);
    }
    ASSERT_EQ(log.log().FuncBegin(0, name.c_str()), 1);
    ASSERT_EQ(log.log().FuncEnd(0), 1);
    // The first line of a log starts with a line break, as every begin entry does after text.
    EXPECT_EQ(log.log().GetCache(), "\r\n" + name + "\r\n{\r\n}\r\n");
    const std::string longName(2 * 1024 * 1024, '%');
    ASSERT_EQ(log.log().FuncBegin(0, longName.c_str()), 1);
    EXPECT_NE(log.log().GetCache().find(longName + "\r\n{\r\n"), std::string::npos);
}

class SnapshotWriter : public CLog {
  public:
    using CLog::WriteDib;
};

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    memcpy(&bytes[at], &value, 4);
}

// What a packed bitmap with this header holds by the format's own rules, in 64 bits.
uint64_t ClaimedSize(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                     uint32_t imageSize, uint32_t colorsUsed) {
    uint64_t colors = colorsUsed;
    if (colors == 0) colors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
    const uint64_t masks = compression == 3 ? 12 : compression == 6 ? 16 : 0;
    // 128 bits: 0xFFFF bits by 2^31 columns by 2^31 rows does not fit 64.
    unsigned __int128 pixels = imageSize;
    if (compression != 1 && compression != 2) {
        const uint64_t rows = static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
        const uint64_t columns = static_cast<uint64_t>(width < 0 ? -int64_t{width} : width);
        pixels = ((static_cast<unsigned __int128>(bits) * columns + 31) / 32) * 4 * rows;
    }
    const unsigned __int128 total = 40 + masks + colors * 4 + pixels;
    return total > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(total);
}

// Headers over buffers of exactly the claimed size (the sanitizer builds watch the end): a
// snapshot never takes more than the header accounts for, and what it writes is a BMP file
// whose header describes it. Claims too large to allocate must be refused, not read.
TEST(HostileBitmaps, EveryHeaderShapeIsWrittenWithinItsBufferOrRefused) {
    const std::string path = MakeTempDir("dib") + "/shot.bmp";
    constexpr uint64_t kLargestBuffer = 1u << 20;
    int written = 0;
    platform::File file;
    ASSERT_TRUE(file.Open(path, platform::FileOpenMode::CreateOrEmptyReadWrite));
    for (uint16_t bits : {0, 1, 2, 4, 8, 15, 16, 24, 32, 48, 64, 0xFFFF})
        for (uint32_t compression : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 0xFFFFFFFFu})
            for (int32_t width : {INT32_MIN, -1, 0, 3, 1000, INT32_MAX})
                for (int32_t height : {INT32_MIN, -2, 0, 2, INT32_MAX})
                    for (uint32_t imageSize : {0u, 6u, 0xFFFFFFFFu})
                        for (uint32_t colorsUsed : {0u, 0x4000u, 0xFFFFFFFFu}) {
                            const uint64_t claimed = ClaimedSize(width, height, bits, compression,
                                                                 imageSize, colorsUsed);
                            std::vector<uint8_t> header(40, 0);
                            Put32(header, 0, 40);
                            Put32(header, 4, static_cast<uint32_t>(width));
                            Put32(header, 8, static_cast<uint32_t>(height));
                            header[12] = 1;
                            memcpy(&header[14], &bits, 2);
                            Put32(header, 16, compression);
                            Put32(header, 20, imageSize);
                            Put32(header, 32, colorsUsed);
                            file.SetLength(0);
                            file.Seek(0);
                            if (claimed > kLargestBuffer) {
                                // Only a refusal keeps such a snapshot inside a 40-byte buffer;
                                // under 4 GiB the header is taken at its word, which the
                                // sanitizer builds would show for an overread.
                                if (claimed >= (uint64_t{1} << 32)) {
                                    EXPECT_EQ(SnapshotWriter::WriteDib(header.data(), file), 0);
                                    EXPECT_EQ(file.GetLength(), 0u);
                                }
                                continue;
                            }
                            std::vector<uint8_t> bitmap(static_cast<size_t>(claimed), 0x5A);
                            memcpy(bitmap.data(), header.data(), 40);
                            const int32_t result = SnapshotWriter::WriteDib(bitmap.data(), file);
                            const uint64_t length = file.GetLength();
                            if (result == 0) continue;
                            ++written;
                            ASSERT_LE(length, 14 + claimed);
                            uint8_t fileHeader[14];
                            file.Seek(0);
                            ASSERT_EQ(file.Read(fileHeader, 14), 14u);
                            uint32_t fileSize, bitsOffset;
                            memcpy(&fileSize, fileHeader + 2, 4);
                            memcpy(&bitsOffset, fileHeader + 10, 4);
                            EXPECT_EQ(fileSize, length);
                            EXPECT_GE(bitsOffset, 54u);
                            EXPECT_LE(bitsOffset, length);
                        }
    EXPECT_GT(written, 100);
}

}  // namespace
}  // namespace vantrel::test
