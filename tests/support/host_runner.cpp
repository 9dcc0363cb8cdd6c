#include "support/host_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "support/test_environment.h"

extern char** environ;

namespace vantrel::test {

namespace {

std::vector<char*> Argv(const std::string& exe, const std::vector<std::string>& commands) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& c : commands) argv.push_back(const_cast<char*>(c.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int Spawn(const HostInstall& host, const std::vector<std::string>& commands, int* stdinFd,
          int* stdoutFd, int* stderrFd) {
    setenv("VANTREL_LIBRARY", VANTREL_LIBRARY_PATH, 1);
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv = Argv(host.exePath, commands);
    pid_t pid = -1;
    if (posix_spawn(&pid, host.exePath.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    *stdinFd = in[1];
    *stdoutFd = out[0];
    if (stderrFd) {
        *stderrFd = err[0];
    } else {
        close(err[0]);
    }
    return pid;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t at = text.find('\n', start);
        if (at == std::string::npos) at = text.size();
        lines.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    return lines;
}

}  // namespace

std::string HostInstall::InstanceFolder(int n) const {
    std::string name = exePath.substr(exePath.rfind('/') + 1);
    return folder + "/vantrel/" + name + "/proc" + std::to_string(n);
}

HostInstall InstallHost(const std::string& exeName) {
    HostInstall host;
    host.folder = MakeTempDir("host");
    host.exePath = host.folder + "/" + exeName;
    std::filesystem::copy_file(VANTREL_TEST_HOST_PATH, host.exePath);
    std::filesystem::permissions(host.exePath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
    return host;
}

HostRun RunHost(const HostInstall& host, const std::vector<std::string>& commands) {
    HostRun run;
    int in = -1, out = -1, err = -1;
    int pid = Spawn(host, commands, &in, &out, &err);
    close(in);
    if (pid < 0) return run;
    // Drain both pipes; stderr is small, so read stdout to the end first.
    std::string output, errors;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out, buffer, sizeof buffer)) > 0) output.append(buffer, n);
    while ((n = read(err, buffer, sizeof buffer)) > 0) errors.append(buffer, n);
    close(out);
    close(err);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.lines = SplitLines(output);
    run.errors = errors;
    return run;
}

RunningHost::RunningHost(const HostInstall& host, const std::vector<std::string>& commands) {
    pid_ = Spawn(host, commands, &stdinFd_, &stdoutFd_, nullptr);
}

RunningHost::~RunningHost() {
    if (pid_ > 0) Kill();
}

bool RunningHost::WaitForLine(const std::string& line) {
    while (true) {
        size_t at;
        while ((at = pending_.find('\n')) != std::string::npos) {
            std::string got = pending_.substr(0, at);
            pending_.erase(0, at + 1);
            lines_.push_back(got);
            if (got == line) return true;
        }
        char buffer[4096];
        ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending_.append(buffer, n);
    }
}

int RunningHost::Finish() {
    if (pid_ <= 0) return -1;
    close(stdinFd_);
    stdinFd_ = -1;
    WaitForLine("\x01never");
    close(stdoutFd_);
    stdoutFd_ = -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void RunningHost::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (stdinFd_ >= 0) close(stdinFd_);
    if (stdoutFd_ >= 0) close(stdoutFd_);
    stdinFd_ = stdoutFd_ = -1;
}

}  // namespace vantrel::test
