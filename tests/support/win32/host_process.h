// Runs the Windows test host as a real process: its executable, with vantrel.dll beside it,
// lies in a temporary folder of its own, and it shares the test's registry (the Wine prefix).
// The same shape as the Linux runner, on CreateProcessA and anonymous pipes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "win32_api.h"

namespace vantrel::test {

struct HostRun {
    int exitCode = -1;
    uint32_t pid = 0;
    uint32_t loadingThreadId = 0;    // the main thread, which loads the library
    std::vector<std::string> lines;  // standard output, one entry per line
};

// A folder holding a copy of the test host under the given file name and vantrel.dll.
struct HostInstall {
    std::string folder;   // the executable's folder
    std::string exePath;  // folder + "\" + name
    // folder\vantrel\<name>\proc<n>
    std::string InstanceFolder(int n) const;
    // The registry name of the executable: the path lower-cased, with "/" for "\".
    std::string KeyName() const;
};

HostInstall InstallHost(const std::string& exeName = "Viewer.exe");

// Runs the host with the commands as arguments and waits for it (a minute at most).
HostRun RunHost(const HostInstall& host, const std::vector<std::string>& commands);

// A host left running: "hold" keeps it until its standard input closes, "wait" until it reads
// a line. The destructor kills a host that is still running, so no test leaves one behind.
class RunningHost {
  public:
    RunningHost(const HostInstall& host, const std::vector<std::string>& commands);
    ~RunningHost();
    RunningHost(const RunningHost&) = delete;
    RunningHost& operator=(const RunningHost&) = delete;

    // Reads standard output until a line equal to `line` arrives; false at its end or after
    // a minute.
    bool WaitForLine(const std::string& line);
    bool SendLine();  // one empty line to standard input
    int Finish();     // closes standard input and waits; returns the exit code
    void Kill();      // TerminateProcess, then waits
    uint32_t pid() const { return pid_; }
    uint32_t loadingThreadId() const { return threadId_; }
    const std::vector<std::string>& lines() const { return lines_; }

  private:
    int Wait();

    HANDLE process_ = nullptr;
    HANDLE stdin_ = nullptr;
    HANDLE stdout_ = nullptr;
    uint32_t pid_ = 0;
    uint32_t threadId_ = 0;
    std::string pending_;
    std::vector<std::string> lines_;
};

}  // namespace vantrel::test
