// The merge from memory rewrites only from the first changed byte. These tests hold it to
// the full rewrite: the same random calls, made by the same threads on two services (one
// forced to rewrite everything), must leave byte-identical files after every call, also when
// the files are deleted, cut or extended behind the services' backs and when a merge fails.
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
        // A failed open, write or close: the call fails and the next merge catches up.
        const platform::testing::Fault faults[] = {platform::testing::Fault::FileOpen,
                                                   platform::testing::Fault::FileWrite,
                                                   platform::testing::Fault::FileClose};
        const bool injected = chance(3);
        const platform::testing::Fault fault = faults[random() % 3];
        auto arm = [&] {
            if (injected) platform::testing::FailAfter(fault, 0);
        };
        int32_t fullResult = 0;
        int32_t incrementalResult = 0;
        auto both = [&] {
            arm();
            fullResult = full.Make(call);
            platform::testing::FailAfter(fault, 0, 0);
            arm();
            incrementalResult = incremental.Make(call);
            platform::testing::FailAfter(fault, 0, 0);
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

}  // namespace
}  // namespace vantrel
