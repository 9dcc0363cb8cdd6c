// Runs the test host as a real process whose executable lies in a temporary folder, with the
// test's settings store and runtime folder, and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace vantrel::test {

struct HostRun {
    int exitCode = -1;
    std::vector<std::string> lines;  // standard output, one entry per line
    std::string errors;
};

// A folder holding a copy of the test host under the given file name.
struct HostInstall {
    std::string folder;   // the executable's folder
    std::string exePath;  // folder + "/" + name
    // The instance folder of instance number n: folder/vantrel/<name>/proc<n>.
    std::string InstanceFolder(int n) const;
};

HostInstall InstallHost(const std::string& exeName = "host");

// Runs the host with the commands as arguments and waits for it.
HostRun RunHost(const HostInstall& host, const std::vector<std::string>& commands);

// A host left running (for concurrency tests): started with its commands, it is ended by
// closing its standard input (the "hold" command waits for that).
class RunningHost {
  public:
    RunningHost(const HostInstall& host, const std::vector<std::string>& commands);
    ~RunningHost();
    RunningHost(const RunningHost&) = delete;
    RunningHost& operator=(const RunningHost&) = delete;

    // Reads standard output until a line equal to `line` arrives; false at end of output.
    bool WaitForLine(const std::string& line);
    // Closes standard input and waits; returns the exit code.
    int Finish();
    void Kill();  // SIGKILL, then waits
    int pid() const { return pid_; }
    const std::vector<std::string>& lines() const { return lines_; }

  private:
    int pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
};

}  // namespace vantrel::test
