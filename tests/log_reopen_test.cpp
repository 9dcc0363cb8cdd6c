// A write-immediately service reopens its file for every entry and trusts the opening to show
// that the folder and the file are still there: what others do to the folder between two
// calls must still end in a complete log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "log/clog_service.h"
#include "log/log_mode.h"
#include "platform/process.h"
#include "platform/test_seam.h"
#include "support/service_fixture.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using test::Log;
using test::Picture;

const platform::SystemTime kFixedTime{2026, 12, 5, 4, 16, 5, 21, 123};

// The file stays open between calls; its path is looked at this often at most.
void WaitForThePathToBeChecked() {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

class LogReopenTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::testing::SetFakeLocalTime(&kFixedTime); }
    void TearDown() override {
        service->Close();
        platform::testing::ClearFaults();
    }
    CLogService& Start() {
        service = std::make_unique<CLogService>();
        platform::ThreadHandle handle = nullptr;
        EXPECT_TRUE(platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle));
        EXPECT_EQ(service->Init("/tmp/x/host", 1, 0, platform::GetCurrentProcessId(), handle,
                                platform::GetCurrentThreadId(), LogModeFromSettings, folder.c_str(),
                                "vantrel.log"),
                  1);
        return *service;
    }
    std::string Path(const std::string& name) const { return folder + name; }
    // What the file holds after the entries: the entries and one summary, nothing else.
    std::string EntriesOf(const std::string& content) const {
        const size_t summary = content.find("\r\nProcess ID:");
        return summary == std::string::npos ? content : content.substr(0, summary);
    }

    std::string folder = test::MakeTempDir("reopen") + "/logs/";
    std::unique_ptr<CLogService> service;
};

// The snapshot needs "img", which the reopenings no longer look for: it makes the folder
// again itself, and its file is saved.
TEST_F(LogReopenTest, ASnapshotMakesADeletedImgFolderAgain) {
    CLogService& log = Start();
    ASSERT_EQ(Log(log, "a\n"), 1);
    std::filesystem::remove_all(Path("img"));
    ASSERT_EQ(Picture(log, "shot.bmp", "b\n"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(Path("img")));
    EXPECT_TRUE(std::filesystem::is_regular_file(Path("img/shot.bmp")));
    EXPECT_NE(test::ReadFile(Path("vantrel.log")).find("alt=\"shot.bmp\">b\r\n"),
              std::string::npos);
}

// The length the reopening measured shows that someone else changed the file, so the merge
// writes everything again and cuts what stood behind.
TEST_F(LogReopenTest, AFileExtendedBetweenCallsIsRewrittenWhole) {
    CLogService& log = Start();
    ASSERT_EQ(Log(log, "a\n"), 1);
    const std::string first = test::ReadFile(Path("vantrel.log"));
    test::WriteFile(Path("vantrel.log"), "XX" + first + std::string(5000, '#'));
    WaitForThePathToBeChecked();
    ASSERT_EQ(Log(log, "b\n"), 1);
    const std::string content = test::ReadFile(Path("vantrel.log"));
    EXPECT_EQ(EntriesOf(content), "a\r\nb\r\n");
    EXPECT_EQ(content.find('#'), std::string::npos) << content;
    EXPECT_EQ(content.substr(content.size() - 4), "\r\n\r\n");
}

// A deleted folder is made again by the full opening that follows the failed reopening.
TEST_F(LogReopenTest, ADeletedFolderIsMadeAgainWithTheWholeText) {
    CLogService& log = Start();
    ASSERT_EQ(Log(log, "a\n"), 1);
    std::filesystem::remove_all(folder);
    WaitForThePathToBeChecked();
    ASSERT_EQ(Log(log, "b\n"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(Path("img")));
    EXPECT_EQ(EntriesOf(test::ReadFile(Path("vantrel.log"))), "a\r\nb\r\n");
}

// One injected failure of the opening fails the call once: the reopening does not fall back
// to a second opening unless the file is missing.
TEST_F(LogReopenTest, AFailedReopeningFailsTheCallAndTheNextCallCatchesUp) {
    CLogService& log = Start();
    ASSERT_EQ(Log(log, "a\n"), 1);
    ASSERT_TRUE(log.ReleaseKeptFile());  // as the bound on open log files closes it
    platform::testing::FailAfter(platform::testing::Fault::FileOpen, 0, 1);
    EXPECT_EQ(Log(log, "b\n"), 0);
    EXPECT_EQ(EntriesOf(test::ReadFile(Path("vantrel.log"))), "a\r\n");
    ASSERT_EQ(Log(log, "c\n"), 1);
    EXPECT_EQ(EntriesOf(test::ReadFile(Path("vantrel.log"))), "a\r\nb\r\nc\r\n");
}

}  // namespace
}  // namespace vantrel
