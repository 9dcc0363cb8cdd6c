// A log's first opening where only Linux shows it: an earlier file whose name differs in case,
// and a name that leaves no room for its part file's name.
#include <map>

#include "log/clog_service.h"
#include "posix/posix_fixture.h"
#include "support/service_fixture.h"

namespace vantrel {
namespace {

TEST(FirstOpening, EarlierFilesInOtherCaseAreUsedAndLongNamesLoseNothing) {
    const std::string longName = std::string(250, 'n') + ".log";  // <name>_0.log cannot be made
    // Logged "first\n" to `name` after an earlier "Trace.log" (or none): the files, their text.
    // clang-format off
    const struct { const char* fault; bool earlier; std::string name; uint32_t createNew, writeImmediately; std::map<std::string, std::string> files; } rows[] = {
        {"earlier file in other case not backed up, or the new one beside it", true, "TRACE.LOG", 1, 1, {{"Trace.log", "first\r\n"}, {"Trace.log.bak", "earlier\r\n"}}},
        {"earlier file in other case not continued", true, "TRACE.LOG", 0, 1, {{"Trace.log", "earlier\r\nfirst\r\n"}}},
        {"a thread's text lost without a part file", false, longName, 1, 0, {{longName, "first\r\n"}}},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        test::UseFreshEnvironment();
        const std::string folder = test::MakeTempDir("first") + "/logs/";
        std::filesystem::create_directories(folder);
        if (row.earlier) test::WriteFile(folder + "Trace.log", "earlier\r\n");
        test::PutLogSetting(test::kInstancePath, row.name, "CreateNewLogFile", row.createNew);
        test::PutLogSetting(test::kInstancePath, row.name, "WriteImmediately",
                            row.writeImmediately);
        CLogService service;
        ASSERT_EQ(1, test::InitService(service, folder, row.name.c_str()));
        EXPECT_EQ(1, test::Log(service, "first\n"));
        EXPECT_EQ(1, service.Close());
        std::set<std::string> names = {"img"};
        for (const auto& [name, text] : row.files) {
            names.insert(name);
            EXPECT_EQ(0u, test::ReadFile(folder + name).rfind(text, 0)) << name;
        }
        EXPECT_EQ(names, test::FilesIn(folder));
    }
}

}  // namespace
}  // namespace vantrel
