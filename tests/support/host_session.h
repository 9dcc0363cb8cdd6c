// A session host (tests/hosts/session_host.cpp) running as a real process: the test sends it
// one command at a time and reads its one-line reply, so it can act on the files, the store or
// the locks between two logging calls.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/host_runner.h"

namespace vantrel::test {

// A folder holding a copy of the session host under the given file name.
HostInstall InstallSessionHost(const std::string& exeName = "host");

struct SessionOptions {
    // Runs the host as this user and group (and no supplementary groups), with a copy of the
    // library that user can reach; < 0 keeps root.
    int dropToId = -1;
    // Environment variables set for the host only.
    std::map<std::string, std::string> environment;
    // A command that runs the host: it is given the host's path as its last argument and
    // must end by exec'ing it (so the host keeps the process id), e.g. to set up a mount.
    std::vector<std::string> wrapper;
};

class HostSession {
  public:
    explicit HostSession(const HostInstall& host, const SessionOptions& options = {});
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    bool started() const { return pid_ > 0; }
    int pid() const { return pid_; }
    // Sends one command line and returns the reply line ("<eof>" when the host is gone).
    std::string Send(const std::string& command);
    // The two halves of Send, for starting the same command in several hosts at once.
    bool Post(const std::string& command);
    std::string Reply();
    // Closes the host's input, so it unloads the library and ends; returns its exit code.
    int Finish();
    // SIGKILL, then waits.
    void Kill();

  private:
    int pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string pending_;
};

}  // namespace vantrel::test
