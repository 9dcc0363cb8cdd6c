// The host program (tests/hosts/host.cpp) as a process in a folder of its own: the test sends
// it one command at a time and reads its reply, acting on files, store or locks in between.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::test {

// A folder holding a copy of the host (on Windows with vantrel.dll beside it).
struct HostInstall {
    std::string folder, exePath;  // the executable's folder, and that, separator, file name
    std::string InstanceFolder(int n) const;  // folder/vantrel/<file name>/proc<n>
    std::string LogPath(const std::string& name, int n = 1) const;  // InstanceFolder(n)/name
    std::string KeyName() const;  // in the settings store: lower case, "/" for "\"
};

// Windows needs an extension, which it gets: "viewer" runs as viewer.exe there.
HostInstall InstallHost(const std::string& exeName = "viewer");

struct HostOptions {
    int dropToId = -1;  // POSIX: this user and group, no supplementary groups (< 0: as is)
    std::vector<std::string> wrapper;    // POSIX: runs the host, given last; it must exec it
    std::vector<std::string> arguments;  // another program, run with these
};

struct HostProcess;  // one implementation per system

// The per-system half. ReadFromHost appends what arrives: false at the end or after a silent
// minute. WaitForHost ends the input, kills if asked, reads the rest, frees, gives the exit code.
HostProcess* StartHostProcess(const std::string& exePath, const HostOptions& options);
bool WriteToHost(HostProcess* process, const std::string& text);
bool ReadFromHost(HostProcess* process, std::string* out);
int WaitForHost(HostProcess* process, bool kill, std::string* rest);

class Host {
  public:
    explicit Host(const HostInstall& install, const HostOptions& options = {});
    ~Host() { Kill(); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    uint32_t pid() const { return pid_; }
    uint32_t loadingThreadId() const { return threadId_; }
    std::string Send(const std::string& command) { return Post(command) ? Reply() : "<eof>"; }
    bool Post(const std::string& command) {
        return process_ && WriteToHost(process_, command + "\n");
    }
    std::string Reply();  // the next line; "<eof>": the host is gone
    // Ends the input (the host unloads and exits) or kills it; its output stays for Reply.
    int Finish() { return Wait(false); }  // the exit code, 128 + signal for a signal
    void Kill() { Wait(true); }

  private:
    int Wait(bool kill) {
        if (process_) exitCode_ = WaitForHost(process_, kill, &pending_), process_ = nullptr;
        return exitCode_;
    }
    HostProcess* process_ = nullptr;
    uint32_t pid_ = 0, threadId_ = 0;
    int exitCode_ = -1;
    std::string pending_;
};

struct HostRun {
    int exitCode = -1;
    uint32_t pid = 0, loadingThreadId = 0;
    std::vector<std::string> lines;  // the replies, then anything the host printed after them
};

// Sends the commands one by one, then ends the host and reads what it printed after.
HostRun RunHost(const HostInstall& install, const std::vector<std::string>& commands,
                const HostOptions& options = {});

}  // namespace vantrel::test
