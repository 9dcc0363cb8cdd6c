// The merge from memory rewrites only from the first changed byte. It is held to the full
// rewrite: the same random calls, made by the same threads on two services (one rewriting
// everything), must leave byte-identical files after every call, also when the files are
// deleted, cut or extended behind the services' backs and when a merge fails.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "log/clog_service.h"
#include "platform/platform_config.h"
#include "platform/test_seam.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::testing::Fault;

// A thread that lives on between the tasks it runs, one at a time; Run returns when its task
// has run, and an empty task ends the thread.
class Worker {
  public:
    Worker() : thread_([this] { Loop(); }) {}
    ~Worker() {
        Run(nullptr);
        thread_.join();
    }
    void Run(std::function<void()> task) {
        std::unique_lock<std::mutex> hold(mutex_);
        task_ = std::move(task);
        pending_ = true;
        changed_.notify_all();
        changed_.wait(hold, [this] { return !pending_; });
    }

  private:
    void Loop() {
        std::unique_lock<std::mutex> hold(mutex_);
        for (bool more = true; more; pending_ = false, changed_.notify_all()) {
            changed_.wait(hold, [this] { return pending_; });
            if ((more = static_cast<bool>(task_))) task_();
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> task_;
    bool pending_ = false;
    std::thread thread_;
};

class MergeDifferentialTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MergeDifferentialTest, IncrementalMergeMatchesFullRewriteAfterEveryCall) {
    const std::string setting = GetParam();
    if (!setting.empty()) test::PutLogSetting(test::kInstancePath, "vantrel.log", GetParam(), 1);
    CLogService services[2];  // [0] rewrites everything
    std::string paths[2];
    for (int i = 0; i < 2; ++i) {
        const std::string folder = test::MakeTempDir("merge") + "/";
        ASSERT_EQ(test::InitService(services[i], folder, "vantrel.log"), 1);
        paths[i] = folder + (setting == "HtmlDoc" ? "vantrel.log.htm" : "vantrel.log");
    }
    services[0].UseFullRewrite(true);

    std::mt19937 random(20261204u + static_cast<unsigned>(setting.size()));
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < 3; ++i) workers.push_back(std::make_unique<Worker>());
    platform::SystemTime time{2026, 12, 5, 4, 16, 5, 21, 0};

    for (int step = 0; step < 1200; ++step) {
        time.milliseconds = step % 1000;
        time.second = 21 + step / 1000;
        platform::testing::SetFakeLocalTime(&time);

        // Disturb both files alike, as another program might; a file kept open between
        // calls is then looked for again at its path.
        const std::string content = test::ReadFile(paths[0]);
        const int disturb = chance(4) ? 1 : chance(4) ? 2 : chance(2) ? 3 : 0;
        const size_t keep = content.empty() ? 0 : random() % content.size();
        for (int i = 0; i < 2 && disturb; ++i) {
            std::error_code ignored;
            if (disturb == 1) std::filesystem::remove(paths[i], ignored);
            if (disturb == 2) std::filesystem::resize_file(paths[i], keep, ignored);
            if (disturb == 3) test::WriteFile(paths[i], content + "JUNK");
            services[i].ReleaseKeptFile();
        }
        if (chance(2)) workers[random() % workers.size()] = std::make_unique<Worker>();

        const int action = static_cast<int>(random() % 100);
        const size_t thread = random() % (workers.size() + 1);  // the last one: this thread
        const int number = static_cast<int>(random() % 100000);
        const std::string image = "i" + std::to_string(step) + ".bmp";
        const std::string scope = "Scope" + std::to_string(number % 7) + "\n";
        // A failed open, write, seek or close: the call fails and the next merge catches up.
        const Fault faults[] = {Fault::FileOpen, Fault::FileWrite, Fault::FileSeek,
                                Fault::FileClose};
        const bool injected = chance(3);
        const Fault fault = faults[random() % 4];
        int32_t results[2] = {};
        for (int i = 0; i < 2 && injected; ++i) services[i].ReleaseKeptFile();  // opened anew
        auto both = [&] {
            for (int i = 0; i < 2; ++i) {
                if (injected) platform::testing::FailAfter(fault, 0);
                CLogService& s = services[i];
                if (action < 50)
                    results[i] = test::Log(s, "entry %d of step %d\n", number, step);
                else if (action < 58)
                    results[i] = test::Log(s, "open line %d ", number);
                else if (action < 60)
                    results[i] = test::Log(s, "%s", "");
                else if (action < 75)
                    results[i] = s.FuncBegin(0, scope.c_str());
                else if (action < 90)
                    results[i] = s.FuncEnd(0);
                else if (action < 95)
                    results[i] = test::Picture(s, image.c_str(), nullptr, "pic %d\n", number);
                else
                    results[i] = (s.Commit(), 1);
                platform::testing::FailAfter(fault, 0, 0);
            }
        };
        thread == workers.size() ? both() : workers[thread]->Run(both);

        SCOPED_TRACE("step " + std::to_string(step) + ", action " + std::to_string(action));
        ASSERT_EQ(results[0], results[1]);
        // A failed merge is never reported as success (nothing is closed between calls where
        // files stay open).
        const bool closes = !platform::kLogFilesStayOpenBetweenCalls || fault != Fault::FileClose;
        ASSERT_TRUE(!injected || action >= 50 || !closes || results[0] == 0);
        ASSERT_EQ(test::PathExists(paths[0]), test::PathExists(paths[1]));
        ASSERT_EQ(test::ReadFile(paths[0]), test::ReadFile(paths[1]));
        if (results[0] == 1 && action < 50) {  // the summary's time, patched within a second
            char line[48];
            std::snprintf(line, sizeof line, "Log Time: 2026/12/04 16:05:%02d:%03d\r\n",
                          time.second, time.milliseconds);
            ASSERT_NE(test::ReadFile(paths[0]).find(line), std::string::npos) << line;
        }
    }
    EXPECT_EQ(services[0].Close(), services[1].Close());
    EXPECT_EQ(test::ReadFile(paths[0]), test::ReadFile(paths[1]));
}

INSTANTIATE_TEST_SUITE_P(Modes, MergeDifferentialTest,
                         ::testing::Values("", "HtmlDoc", "NeedTimeStamp"), [](const auto& info) {
                             return *info.param ? std::string(info.param) : "Text";
                         });

}  // namespace
}  // namespace vantrel
