// The settings store held by another process past the busy time-out, or damaged: hosts keep
// running and logging where they need nothing from it, calls that need it fail, and the
// settings editor says what is wrong.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/host.h"
#include "support/reg_tool_runner.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

std::string StorePath() {
    return std::string(getenv("XDG_CONFIG_HOME")) + "/vantrel/registry.db";
}

// The editor's query of the whole settings tree.
RegToolRun QuerySettings() {
    return RunRegTool({"query", "HKCU\\Software\\Osmirel Systems\\Kelvra", "/s"});
}

// Another process that holds an exclusive transaction on the store until it is destroyed.
class StoreLockHolder {
  public:
    explicit StoreLockHolder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release_[1]);
            sqlite3* db = nullptr;
            char answer = 0;
            if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK)
                answer = 1;
            if (write(ready[1], &answer, 1) != 1) _exit(1);
            char ignored;
            while (read(release_[0], &ignored, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release_[0]);
        char answer = 0;
        held_ = read(ready[0], &answer, 1) == 1 && answer == 1;
        close(ready[0]);
    }
    ~StoreLockHolder() {
        close(release_[1]);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    bool held() const { return held_; }

  private:
    int release_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool held_ = false;
};

// Once a host has its instance and its log services it needs nothing from the store, so it
// goes on logging while another process holds the store; the editor reports the lock.
TEST(StoreFaults, LockedStoreDoesNotStopAHostThatIsRunningAndTheEditorReportsIt) {
    if (!RegToolBuilt()) GTEST_SKIP() << "settings editor not built";
    HostInstall host = InstallHost("locked");
    Host session(host);
    ASSERT_EQ(session.Send("load"), "1");
    ASSERT_EQ(session.Send("printf|vantrel.log|before\\n"), "1");
    platform::ReleaseRegistryStore();
    {
        StoreLockHolder lock(StorePath());
        ASSERT_TRUE(lock.held());
        EXPECT_EQ(session.Send("printf|vantrel.log|while locked\\n"), "1");
        const RegToolRun query = QuerySettings();
        EXPECT_EQ(query.exitCode, 1);
        EXPECT_NE(query.err.find("locked"), std::string::npos) << query.err;
    }
    EXPECT_EQ(session.Send("printf|vantrel.log|after\\n"), "1");
    EXPECT_EQ(session.Finish(), 0);
    EXPECT_EQ(ReadFile(host.InstanceFolder(1) + "/vantrel.log")
                  .rfind("before\r\nwhile locked\r\nafter\r\n", 0),
              0u);
    EXPECT_EQ(QuerySettings().exitCode, 0);
}

// A host that starts while another process holds the store waits out one busy time-out, not
// one per store call (a load and a first call make dozens), then loads without its settings
// and fails its logging calls. The bound only tells a single wait from dozens of them.
TEST(StoreFaults, AHostStartedWhileTheStoreIsLockedWaitsOnceAndFailsItsCalls) {
    HostInstall host = InstallHost("lockedload");
    ASSERT_EQ(RunHost(host, {"print|creates the store\\n"}).exitCode, 0);
    platform::ReleaseRegistryStore();
    StoreLockHolder lock(StorePath());
    ASSERT_TRUE(lock.held());
    HostInstall other = InstallHost("newcomer");
    const auto start = std::chrono::steady_clock::now();
    HostRun run = RunHost(other, {"print|x\\n", "printf|other.log|y\\n", "noop"});
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"0", "0", "9"}));
    EXPECT_LT(seconds, 20) << "the host waited once per store call";
    EXPECT_FALSE(PathExists(other.folder + "/vantrel"));
}

// A store that is not a database, or one cut short: the library still loads and its calls
// fail without a crash; the editor fails with a message instead of touching it.
TEST(StoreFaults, DamagedStoreLeavesTheHostRunningAndTheEditorReportsIt) {
    HostInstall host = InstallHost("damaged");
    ASSERT_EQ(RunHost(host, {"print|creates the store\\n"}).exitCode, 0);
    platform::ReleaseRegistryStore();
    const std::string intact = ReadFile(StorePath());
    ASSERT_GT(intact.size(), 1024u);

    for (const std::string& damaged :
         {std::string(8192, 'Z'), intact.substr(0, intact.size() / 2),
          "SQLite format 3" + std::string(1, '\0') + std::string(4000, '\xff')}) {
        WriteFile(StorePath(), damaged);
        HostRun run = RunHost(host, {"print|x\\n", "printf|other.log|y\\n", "noop"});
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_EQ(run.lines.size(), 3u);
        EXPECT_EQ(run.lines[2], "9");
        if (!RegToolBuilt()) continue;
        const RegToolRun query = QuerySettings();
        EXPECT_EQ(query.exitCode, 1);
        EXPECT_FALSE(query.err.empty());
    }
}

}  // namespace
}  // namespace vantrel::test
