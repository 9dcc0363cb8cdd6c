// Hostile input from the host: log names of every byte and length, and bitmap headers of every
// size, bit count and compression.
#include <climits>
#include <map>

#include "posix/posix_fixture.h"
#include "support/snapshot_check.h"

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
    for (const std::string name : {"..", "../up.log", "x.log.", "x", ""})
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

// Headers over buffers of exactly the claimed size (sanitizers watch the end): the file its
// header describes, or a refusal for claims too large to allocate.
TEST(HostileInput, EveryBitmapHeaderIsWrittenWithinItsBufferOrRefused) {
    const std::string path = MakeTempDir("dib") + "/shot.bmp";
    // clang-format off
    const uint16_t bitCounts[] = {0, 1, 2, 4, 8, 15, 16, 24, 32, 48, 64, 0xFFFF};
    const uint32_t compressions[] = {0, 1, 2, 3, 4, 5, 6, 0xFFFFFFFF}, sizes[] = {0, 6, 0xFFFFFFFF}, colorCounts[] = {0, 0x4000, 0xFFFFFFFF};
    const int32_t widths[] = {INT32_MIN, -1, 0, 3, 1000, INT32_MAX}, heights[] = {INT32_MIN, -2, 0, 2, INT32_MAX};
    std::map<std::string, int> outcomes;
    for (int i = 0; i < 12 * 8 * 6 * 5 * 3 * 3; ++i) {
        const uint32_t fields[10] = {40, uint32_t(widths[i / 96 % 6]), uint32_t(heights[i / 576 % 5]), 1u | uint32_t{bitCounts[i % 12]} << 16,
                                     compressions[i / 12 % 8], sizes[i / 2880 % 3], 0, 0, colorCounts[i / 8640], 0};
        // clang-format on
        const std::string outcome = snapshot_check::Check(reinterpret_cast<const uint8_t*>(fields),
                                                          sizeof fields, path, 1u << 20);
        ++outcomes[outcome == "written" || outcome == "refused" || outcome == "untried"
                       ? outcome
                       : outcome + " for header " + std::to_string(i)];
    }
    EXPECT_EQ(3u, outcomes.size()) << outcomes.rbegin()->first;
    EXPECT_GT(outcomes["written"], 100);
}

}  // namespace
}  // namespace vantrel::test
