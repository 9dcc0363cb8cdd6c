// Without WriteImmediately, threads make their entries in their own logs without the
// service's lock; a merge running meanwhile must read each thread's text whole, and the file
// keeps each thread's text in order, threads in the order of their first entry.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "log/clog_service.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

TEST(MemoryModeThreads, EntriesOfManyThreadsMeetAMergeAndStayGroupedInOrder) {
    test::PutLogSetting(test::kInstancePath, "threads.log", "WriteImmediately", 0);
    const std::string folder = test::MakeTempDir("memory-threads") + "/";
    CLogService service;
    ASSERT_EQ(test::InitService(service, folder, "threads.log"), 1);

    constexpr int kThreads = 4;
    constexpr int kEntries = 400;
    // Each thread makes its first entry in turn, so the order of their texts is known.
    std::vector<test::Worker> workers(kThreads);
    for (int t = 0; t < kThreads; ++t)
        workers[t].Run([&, t] { EXPECT_EQ(test::Log(service, "t%d first\n", t), 1); });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            workers[t].Run([&, t] {
                for (int i = 0; i < kEntries; ++i)
                    EXPECT_EQ(test::Log(service, "t%d %d\n", t, i), 1);
            });
        });
    }
    for (int i = 0; i < 50; ++i) service.Commit();  // merges while the threads write
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(service.Close(), 1);

    std::string expected;
    for (int t = 0; t < kThreads; ++t) {
        expected += "t" + std::to_string(t) + " first\r\n";
        for (int i = 0; i < kEntries; ++i)
            expected += "t" + std::to_string(t) + " " + std::to_string(i) + "\r\n";
    }
    const std::string text = test::ReadFile(folder + "threads.log");
    EXPECT_EQ(text.substr(0, expected.size()), expected);
}

}  // namespace
}  // namespace vantrel
