// Many threads logging with WriteImmediately 0 under a low descriptor limit: the library holds
// a few descriptors whatever the thread count, and the log at unload is complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/host.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using test::Host;
using test::HostInstall;

struct ManyThreadsCase {
    const char* name;
    const char* kind;  // what each thread logs: "text" or "bitmap"
    int threads;
};

class ManyThreadsDescriptorsTest : public ::testing::TestWithParam<ManyThreadsCase> {};

TEST_P(ManyThreadsDescriptorsTest, ShortLivedThreadsLeaveOneCompleteLog) {
    const ManyThreadsCase& param = GetParam();
    test::PutDefaultSetting("WriteImmediately", 0);
    // Every bitmap entry then writes its thread's text to the part file at once.
    test::PutDefaultSetting("CacheSize(KB)", 0);
    HostInstall host = test::InstallHost("crowd");
    test::HostOptions options;
    options.wrapper = {"/bin/sh", "-c", "ulimit -n 256 && exec \"$0\""};
    Host session(host, options);
    ASSERT_EQ(session.Send("load"), "1");
    const int before = std::stoi(session.Send("fds"));
    EXPECT_EQ(session.Send("serial|" + std::to_string(param.threads) + "|many.log|" + param.kind),
              "0")
        << "calls that failed";
    EXPECT_LE(std::stoi(session.Send("fds")), before + 2);
    EXPECT_EQ(session.Finish(), 0);

    const std::string folder = host.InstanceFolder(1) + "/";
    const std::string text = test::ReadFile(folder + "many.log");
    size_t at = 0;
    for (int t = 0; t < param.threads && at != std::string::npos; ++t) {
        at = text.find("s" + std::to_string(t) + "\r\n", at);
        ASSERT_NE(at, std::string::npos) << "entry of thread " << t;
    }
    EXPECT_NE(text.find("There are " + std::to_string(param.threads + 1) + " thread(s)"),
              std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "many.log" || name == "img") << name << " left behind";
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, ManyThreadsDescriptorsTest,
                         ::testing::Values(
                             // The final merge opened every part file at once.
                             ManyThreadsCase{"TextMergedAtUnload", "text", 10000},
                             // Each bitmap entry flushed its thread's part file and left it open.
                             ManyThreadsCase{"BitmapsFlushedOnTheWay", "bitmap", 600}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel
