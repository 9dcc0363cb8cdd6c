// Hostile input from the host: log names of every byte and length, every format conversion
// the C library knows, and bitmap headers of every size, bit count and compression.
#include <climits>
#include <cstdarg>
#include <cstring>

#include "log/clog.h"
#include "platform/file.h"
#include "posix/posix_fixture.h"

namespace vantrel::test {
namespace {

// Also earlier files in other case, and a name without room for its part file's name.
TEST(HostileInput, EveryByteAndLengthOfALogNameIsHandled) {
    const HostInstall host = InstallHost("names");
    const std::string longest = std::string(251, 'n') + ".log",
                      proc = Lower(host.exePath) + "\\proc1";
    std::filesystem::create_directories(host.InstanceFolder(1));
    WriteFile(host.LogPath("Trace.log"), "earlier\r\n");  // backed up
    WriteFile(host.LogPath("Cont.log"), "earlier\r\n");   // continued
    PutLogSetting(proc, "CONT.LOG", "CreateNewLogFile", 0);
    PutLogSetting(proc, longest, "WriteImmediately", 0);
    Host session(host);
    std::set<std::string> files = {"img",       "ok.log",        longest,
                                   "Trace.log", "Trace.log.bak", "Cont.log"};
    for (const std::string name : {"..", "../up.log", "\\x2e\\x2e\\x2fup.log", "x.log.", "x", ""})
        EXPECT_EQ("0", session.Send("printf|" + name + "|x\\n")) << name;
    EXPECT_EQ("0", session.Send("printf|" + longest + "x|x\\n"));
    for (int byte = 1; byte <= 255; ++byte) {  // only letters, digits, "_" and "." are taken
        char name[32];
        snprintf(name, sizeof name, "n%d\\x%02x.log", byte, byte);
        const bool usable = isalnum(byte) || byte == '_' || byte == '.';
        if (usable) files.insert("n" + std::to_string(byte) + char(byte) + ".log");
        ASSERT_EQ(usable ? "1" : "0", session.Send("printf|" + std::string(name) + "|x\\n"))
            << name;
    }
    for (const std::string& name :
         {longest, std::string("ok.log"), std::string("TRACE.LOG"), std::string("cont.log")})
        EXPECT_EQ("1", session.Send("printf|" + name + "|first\\n")) << name;
    EXPECT_EQ(0, session.Finish());
    EXPECT_EQ((std::set<std::string>{"names", "vantrel"}), FilesIn(host.folder));
    EXPECT_EQ(std::set<std::string>{"proc1"}, FilesIn(host.folder + "/vantrel/names"));
    EXPECT_EQ(files, FilesIn(host.InstanceFolder(1)));
    // clang-format off
    for (const auto& [name, text] : {std::pair<std::string, std::string>{longest, "first\r\n"}, {"Trace.log", "first\r\n"}, {"Trace.log.bak", "earlier\r\n"}, {"Cont.log", "earlier\r\nfirst\r\n"}})
        EXPECT_EQ(0u, ReadFile(host.LogPath(name)).rfind(text, 0)) << name;
    // clang-format on
}

std::string Printed(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    std::string text(static_cast<size_t>(vsnprintf(nullptr, 0, format, args)), '\0');
    vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    va_end(args);
    return text;
}

TEST(HostileInput, EveryConversionFormatsAsTheCLibraryDoes) {
    const std::string folder = MakeTempDir("entries");
    CLog log;
    log.Open(1, nullptr, 2, 0, folder.c_str(), "entries.log", INT32_MAX, 3);
    std::string expected;
    const auto logged = [&log](const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int32_t result = log.Printf(0, format, args);
        va_end(args);
        return result;
    };
    const wchar_t wide[] = L"wide";
    int marker = 0;
#define VANTREL_ENTRY(...)                             \
    EXPECT_EQ(1, logged(__VA_ARGS__)) << #__VA_ARGS__; \
    expected += Printed(__VA_ARGS__)
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
    EXPECT_EQ(0, logged("a lone percent at the end %"));
    EXPECT_EQ(1, log.FlushCache(false));
    log.CloseFile();
    EXPECT_EQ(expected, ReadFile(folder + "/entries.log").substr(0, log.GetWritePosition()));
    log.Close();
}

class SnapshotWriter : public CLog {
  public:
    using CLog::WriteDib;
};

// Headers over buffers of exactly the claimed size (sanitizers watch the end): the file its
// header describes, or a refusal for claims too large to allocate.
TEST(HostileInput, EveryBitmapHeaderIsWrittenWithinItsBufferOrRefused) {
    platform::File file;
    ASSERT_TRUE(file.Open(MakeTempDir("dib") + "/shot.bmp",
                          platform::FileOpenMode::CreateOrEmptyReadWrite));
    // clang-format off
    const uint16_t bitCounts[] = {0, 1, 2, 4, 8, 15, 16, 24, 32, 48, 64, 0xFFFF};
    const uint32_t compressions[] = {0, 1, 2, 3, 4, 5, 6, 0xFFFFFFFF}, sizes[] = {0, 6, 0xFFFFFFFF}, colorCounts[] = {0, 0x4000, 0xFFFFFFFF};
    const int32_t widths[] = {INT32_MIN, -1, 0, 3, 1000, INT32_MAX}, heights[] = {INT32_MIN, -2, 0, 2, INT32_MAX};
    // clang-format on
    int written = 0;
    for (int i = 0; i < 12 * 8 * 6 * 5 * 3 * 3; ++i) {
        // clang-format off
        const uint16_t bits = bitCounts[i % 12];
        const uint32_t compression = compressions[i / 12 % 8], imageSize = sizes[i / 2880 % 3], colorsUsed = colorCounts[i / 8640];
        const int32_t width = widths[i / 96 % 6], height = heights[i / 576 % 5];
        const uint32_t fields[10] = {40, uint32_t(width), uint32_t(height), 1u | uint32_t{bits} << 16, compression, imageSize, 0, 0, colorsUsed, 0};
        // What a packed bitmap with this header holds by the format's own rules (0xFFFF bits by
        // 2^31 by 2^31 needs 128 bits).
        const unsigned __int128 pixels = compression == 1 || compression == 2 ? imageSize
            : (bits * static_cast<unsigned __int128>(std::abs(int64_t{width})) + 31) / 32 * 4 * static_cast<uint64_t>(std::abs(int64_t{height}));
        const uint64_t colors = colorsUsed ? colorsUsed : bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
        const unsigned __int128 claimed = 40 + (compression == 3 ? 12 : compression == 6 ? 16 : 0) + colors * 4 + pixels;
        // clang-format on
        std::vector<uint8_t> bitmap(claimed > (1u << 20) ? 40 : size_t(claimed), 0x5A);
        memcpy(bitmap.data(), fields, 40);
        file.SetLength(0);
        file.Seek(0);
        // Over 4 GiB only a refusal stays inside 40 bytes.
        if (claimed >= (uint64_t{1} << 32)) {
            EXPECT_EQ(0u, SnapshotWriter::WriteDib(bitmap.data(), file) + file.GetLength());
        }
        if (claimed > (1u << 20) || SnapshotWriter::WriteDib(bitmap.data(), file) == 0) continue;
        ++written;
        const uint64_t length = file.GetLength();
        uint32_t header[4];  // "BM", size, reserved, offset from byte 2
        file.Seek(2);
        ASSERT_EQ(12u, file.Read(header, 12));
        EXPECT_TRUE(length <= 14 + claimed && header[0] == length && header[2] >= 54u &&
                    header[2] <= length)
            << length << " " << header[0] << " " << header[2];
    }
    EXPECT_GT(written, 100);
}

}  // namespace
}  // namespace vantrel::test
