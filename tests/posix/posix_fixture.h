// What the Linux-only cases share: the host and environment support, a forked child's report,
// the store held by another connection, the editor as a process, a log checked for whole.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/registry_store.h"
#include "platform/registry.h"
#include "support/host.h"
#include "support/log_text.h"
#include "support/settings_values.h"
#include "support/test_environment.h"
#include "support/unprivileged.h"

namespace vantrel::test {

// Runs `work` in a forked child; what it returned, with a note when the child died.
inline std::string InChild(const std::function<std::string()>& work) {
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string report = work();
        _exit(write(channel[1], report.data(), report.size()) < 0 ? 2 : 0);  // no destructors
    }
    close(channel[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    close(channel[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? report : report + " (child died)";
}

// Another connection holds the store in an exclusive transaction until the result is called.
inline std::function<void()> HoldStore() {
    sqlite3* db = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_open(platform::RegistryStore::DefaultPath().c_str(), &db));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
    return [db] { sqlite3_close(db); };
}

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// The entries first, then exactly one summary, and nothing stale after it.
inline void ExpectCompleteLog(const std::string& text, const std::string& entries) {
    EXPECT_EQ(0u, text.rfind(entries, 0)) << text.substr(0, 200);
    EXPECT_EQ(1, CountOf(text, "Process ID:"));
    const std::string end = std::string(72, '/') + "\r\n\r\n";
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(end, text.substr(text.size() - end.size())) << "stale bytes after the summary";
}

// Whether the lines "<prefix>0" .. "<prefix><count - 1>" are found in this order from `at` on.
inline bool Ordered(const std::string& text, const std::string& prefix, int count, size_t at = 0) {
    for (int i = 0; i < count && at != std::string::npos; ++i)
        at = text.find(prefix + std::to_string(i) + "\r\n", at);
    return at != std::string::npos;
}

struct RegToolRun {
    int exitCode = -1;
    std::string out, err;
};

// The editor as a process on the test's store (it inherits XDG_CONFIG_HOME), as `uid` when
// given, with no input. Arguments as the shell splits `line`; "~" stands for a space in one.
inline RegToolRun RunRegTool(const std::string& line, int uid = -1) {
    const std::string out = MakeTempDir("reg-tool") + "/out", id = std::to_string(uid);
    std::string command = uid < 0 ? "" : "setpriv --clear-groups --regid=" + id + " --reuid=" + id;
    std::istringstream words(std::string(" " VANTREL_REG_TOOL_PATH " ") + line);
    for (std::string word; words >> word;) {
        std::replace(word.begin(), word.end(), '~', ' ');
        command += " '" + word + "'";  // no argument holds a single quote
    }
    const int status = std::system((command + " </dev/null >" + out + " 2>" + out + "2").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(out + "2")};
}

}  // namespace vantrel::test

// The platform-level cases use the environment's file helpers unqualified.
namespace vantrel::platform {
using test::MakeTempDir;
using test::PathExists;
using test::ReadFile;
using test::WriteFile;
}  // namespace vantrel::platform
