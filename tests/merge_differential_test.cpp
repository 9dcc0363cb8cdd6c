// The merge from memory rewrites only from the first changed byte. These tests hold it to
// the full rewrite: the same random calls, made by the same threads on two services (one
// forced to rewrite everything), must leave byte-identical files after every call, also when
// the files are deleted, cut or extended behind the services' backs.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/test_seam.h"
#include "support/service_fixture.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using test::Log;
using test::Picture;
using test::Worker;

void SetLogSetting(const char* valueName, uint32_t value) {
    test::PutLogSetting(test::kInstancePath, "vantrel.log", valueName, value);
}

// One service and the folder it writes into; `full` forces the full rewrite for its calls.
struct MergeRun {
    bool full = false;
    std::string folder;
    std::unique_ptr<CLogService> service;

    explicit MergeRun(bool fullRewrite) : full(fullRewrite) {
        folder = test::MakeTempDir(fullRewrite ? "merge-full" : "merge-incremental") + "/";
        service = std::make_unique<CLogService>();
        EXPECT_EQ(test::InitService(*service, folder, "vantrel.log"), 1);
        // What is done to the files between calls is seen by both services at once.
        CLogService::CheckPathEveryCall(true);
    }
    ~MergeRun() {
        CLogService::CheckPathEveryCall(false);
        CLogService::ForceFullRewrite(false);
        if (service) service->Close();
    }
    std::string Path() const { return folder + service->GetFileName(); }
    template <typename Call>
    int32_t Make(Call call) {
        CLogService::ForceFullRewrite(full);
        const int32_t result = call(*service);
        CLogService::ForceFullRewrite(false);
        return result;
    }
};

struct Variant {
    const char* name;
    uint32_t htmlDoc;
    uint32_t needTimeStamp;
};

class MergeDifferentialTest : public ::testing::TestWithParam<Variant> {};

TEST_P(MergeDifferentialTest, IncrementalMergeMatchesFullRewriteAfterEveryCall) {
    SetLogSetting("HtmlDoc", GetParam().htmlDoc);
    SetLogSetting("NeedTimeStamp", GetParam().needTimeStamp);
    MergeRun full(true);
    MergeRun incremental(false);
    ASSERT_EQ(full.service->GetMode() & LogModeMergeFromMemory, LogModeMergeFromMemory);

    std::mt19937 random(20261204u + GetParam().htmlDoc * 7 + GetParam().needTimeStamp);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < 3; ++i) workers.push_back(std::make_unique<Worker>());
    platform::SystemTime time{2026, 12, 5, 4, 16, 5, 21, 0};
    int calls = 0;

    for (int step = 0; step < 1200; ++step) {
        time.milliseconds = step % 1000;
        time.second = 21 + step / 1000;
        platform::testing::SetFakeLocalTime(&time);

        // Disturb both files alike, as another program might.
        if (chance(4)) {
            std::error_code ignored;
            std::filesystem::remove(full.Path(), ignored);
            std::filesystem::remove(incremental.Path(), ignored);
        } else if (chance(4)) {
            const std::string content = test::ReadFile(full.Path());
            const size_t keep = content.empty() ? 0 : random() % content.size();
            std::filesystem::resize_file(full.Path(), keep);
            std::filesystem::resize_file(incremental.Path(), keep);
        } else if (chance(2)) {
            const std::string content = test::ReadFile(full.Path()) + "JUNK";
            test::WriteFile(full.Path(), content);
            test::WriteFile(incremental.Path(), content);
        }
        if (chance(2)) {  // a thread ends; a new one takes its place
            const size_t which = random() % workers.size();
            workers[which] = std::make_unique<Worker>();
        }

        const int action = static_cast<int>(random() % 100);
        const size_t thread = random() % (workers.size() + 1);  // the last one: this thread
        const int number = static_cast<int>(random() % 100000);
        const std::string image = "i" + std::to_string(step) + ".bmp";
        auto call = [&](CLogService& service) -> int32_t {
            if (action < 50) return Log(service, "entry %d of step %d\n", number, step);
            if (action < 58) return Log(service, "open line %d ", number);
            if (action < 60) return Log(service, "%s", "");
            if (action < 75) {
                const std::string name = "Scope" + std::to_string(number % 7) + "\n";
                return service.FuncBegin(0, name.c_str());
            }
            if (action < 90) return service.FuncEnd(0);
            if (action < 95) return Picture(service, image.c_str(), "picture %d\n", number);
            service.Commit();
            return 1;
        };
        int32_t fullResult = 0;
        int32_t incrementalResult = 0;
        auto both = [&] {
            fullResult = full.Make(call);
            incrementalResult = incremental.Make(call);
        };
        if (thread == workers.size()) {
            both();
        } else {
            workers[thread]->Run(both);
        }
        ++calls;

        SCOPED_TRACE("step " + std::to_string(step) + ", action " + std::to_string(action));
        ASSERT_EQ(fullResult, incrementalResult);
        ASSERT_EQ(test::PathExists(full.Path()), test::PathExists(incremental.Path()));
        ASSERT_EQ(test::ReadFile(full.Path()), test::ReadFile(incremental.Path()));
    }
    EXPECT_EQ(calls, 1200);
    EXPECT_EQ(full.service->GetThreadLogCount(), incremental.service->GetThreadLogCount());
    EXPECT_GT(full.service->GetThreadLogCount(), 3u);

    // The final merge of Close, too.
    EXPECT_EQ(full.Make([](CLogService& service) { return service.Close(); }),
              incremental.Make([](CLogService& service) { return service.Close(); }));
    EXPECT_EQ(test::ReadFile(full.Path()), test::ReadFile(incremental.Path()));
    full.service.reset();
    incremental.service.reset();
}

INSTANTIATE_TEST_SUITE_P(Modes, MergeDifferentialTest,
                         ::testing::Values(Variant{"Text", 0, 0}, Variant{"Html", 1, 0},
                                           Variant{"TimeStamps", 0, 1}),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                             return std::string(info.param.name);
                         });

// Shows that the merge really is incremental: a byte changed behind the service's back in
// text already merged (same file length) is left alone, while the full rewrite restores it.
// A cut file is noticed by its length and rewritten whole.
TEST(IncrementalMergeTest, RewritesOnlyFromTheFirstChangedByte) {
    const platform::SystemTime time{2026, 12, 5, 4, 16, 5, 21, 123};
    platform::testing::SetFakeLocalTime(&time);
    MergeRun incremental(false);
    MergeRun full(true);
    for (MergeRun* run : {&incremental, &full}) {
        run->Make([](CLogService& service) { return Log(service, "first\n"); });
        std::string content = test::ReadFile(run->Path());
        content[0] = 'F';
        test::WriteFile(run->Path(), content);
        run->Make([](CLogService& service) { return Log(service, "second\n"); });
    }
    EXPECT_EQ(test::ReadFile(incremental.Path()).substr(0, 15), "First\r\nsecond\r\n");
    EXPECT_EQ(test::ReadFile(full.Path()).substr(0, 15), "first\r\nsecond\r\n");

    std::filesystem::resize_file(incremental.Path(), 3);
    incremental.Make([](CLogService& service) { return Log(service, "third\n"); });
    full.Make([](CLogService& service) { return Log(service, "third\n"); });
    EXPECT_EQ(test::ReadFile(incremental.Path()), test::ReadFile(full.Path()));
}

// A merge that fails part-way leaves the file in neither state; the next merge must not
// build on it.
TEST(IncrementalMergeTest, MergeAfterAFailedWriteRewritesEverything) {
    const platform::SystemTime time{2026, 12, 5, 4, 16, 5, 21, 123};
    MergeRun incremental(false);
    MergeRun full(true);
    for (MergeRun* run : {&incremental, &full}) {
        platform::testing::SetFakeLocalTime(&time);
        run->Make([](CLogService& service) { return Log(service, "a\n"); });
        platform::testing::FailAfter(platform::testing::Fault::FileWrite, 0, 1);
        run->Make([](CLogService& service) { return Log(service, "b\n"); });
        platform::testing::ClearFaults();
        platform::testing::SetFakeLocalTime(&time);
        run->Make([](CLogService& service) { return Log(service, "c\n"); });
    }
    const std::string content = test::ReadFile(incremental.Path());
    EXPECT_EQ(content.substr(0, 9), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(content, test::ReadFile(full.Path()));
}

}  // namespace
}  // namespace vantrel
