// What a log finds at its first opening on Linux: an earlier file past 2 GiB, one in other
// letter case, or no room for its part file's name.
#include <cstring>
#include <fstream>

#include "log/clog_service.h"
#include "posix/posix_fixture.h"
#include "support/service_fixture.h"

namespace vantrel {
namespace {

std::string ReadFrom(const std::string& path, uint64_t offset, size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string text(count, '\0');
    in.read(&text[0], static_cast<std::streamsize>(count));
    return text.substr(0, static_cast<size_t>(in.gcount()));
}

TEST(FirstOpening, EarlierFilesAreContinuedOrBackedUpAndNothingIsLost) {
    const std::string longName = std::string(250, 'n') + ".log";  // <name>_0.log cannot be made
    constexpr uint64_t kBig = 2500ull * 1000 * 1000;
    // An earlier run's file "earlier\r\n" made `length` long (sparse), or none; the log's
    // settings; the files afterwards; `read` at `at` starts with `text`.
    // clang-format off
    const struct { const char* fault; const char* earlier; uint64_t length; std::string name; uint32_t createNew, writeImmediately; std::set<std::string> files; const char* read; uint64_t at; const char* text; } rows[] = {
        {"a log past 2 GiB continued elsewhere than its end", "big.log", kBig, "big.log", 0, 1,
         {"big.log", "img"}, "big.log", kBig, "first\r\n\r\nProcess ID:"},
        {"the same, merged from part files", "big.log", kBig, "big.log", 0, 0,
         {"big.log", "img"}, "big.log", kBig, "first\r\n\r\nProcess ID:"},
        {"an earlier file in other case not backed up", "Trace.log", 9, "TRACE.LOG", 1, 1,
         {"Trace.log", "Trace.log.bak", "img"}, "Trace.log.bak", 0, "earlier\r\n"},
        {"the new log beside it instead of in its place", "Trace.log", 9, "TRACE.LOG", 1, 1,
         {"Trace.log", "Trace.log.bak", "img"}, "Trace.log", 0, "first\r\n"},
        {"an earlier file in other case not continued", "Trace.log", 9, "TRACE.LOG", 0, 1,
         {"Trace.log", "img"}, "Trace.log", 0, "earlier\r\nfirst\r\n"},
        {"a thread's text lost without a part file", nullptr, 0, longName, 1, 0,
         {longName, "img"}, longName.c_str(), 0, "first\r\n"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        test::UseFreshEnvironment();
        const std::string folder = test::MakeTempDir("first") + "/logs/";
        std::filesystem::create_directories(folder);
        if (row.earlier) {
            test::WriteFile(folder + row.earlier, "earlier\r\n");
            std::filesystem::resize_file(folder + row.earlier, row.length);
        }
        test::PutLogSetting(test::kInstancePath, row.name, "CreateNewLogFile", row.createNew);
        test::PutLogSetting(test::kInstancePath, row.name, "WriteImmediately",
                            row.writeImmediately);
        CLogService service;
        ASSERT_EQ(1, test::InitService(service, folder, row.name.c_str()));
        EXPECT_EQ(1, test::Log(service, "first\n"));
        EXPECT_EQ(1, service.Close());
        EXPECT_EQ(row.files, test::FilesIn(folder));
        EXPECT_EQ(row.text, ReadFrom(folder + row.read, row.at, strlen(row.text)));
        if (row.length == kBig) {
            EXPECT_EQ("earlier\r\n", ReadFrom(folder + row.read, 0, 9));
        }
    }
}

}  // namespace
}  // namespace vantrel
