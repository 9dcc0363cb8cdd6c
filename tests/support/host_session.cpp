#include "support/host_session.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <vector>

extern char** environ;

#include "support/test_environment.h"
#include "support/unprivileged.h"

namespace vantrel::test {

HostInstall InstallSessionHost(const std::string& exeName) {
    HostInstall host;
    host.folder = MakeTempDir("session");
    chmod(host.folder.c_str(), 0755);
    host.exePath = host.folder + "/" + exeName;
    std::filesystem::copy_file(VANTREL_SESSION_HOST_PATH, host.exePath);
    chmod(host.exePath.c_str(), 0755);
    return host;
}

HostSession::HostSession(const HostInstall& host, const SessionOptions& options) {
    // A host that died must show up as "<eof>", not end the test process.
    signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    // Everything the child needs is built before fork: after it, only async-signal-safe
    // calls are allowed while other threads may hold the allocator's lock.
    std::vector<std::string> words = options.wrapper;
    words.push_back(host.exePath);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t at = text.find('=');
        if (at != std::string::npos) variables[text.substr(0, at)] = text.substr(at + 1);
    }
    variables["VANTREL_LIBRARY"] =
        options.dropToId >= 0 ? LibraryForAnyUser() : VANTREL_LIBRARY_PATH;
    for (const auto& [name, value] : options.environment) variables[name] = value;
    std::vector<std::string> lines;
    for (const auto& [name, value] : variables) lines.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& line : lines) envp.push_back(line.data());
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (options.dropToId >= 0 && !DropPrivilegesTo(static_cast<uid_t>(options.dropToId)))
            _exit(126);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return;
    }
    pid_ = pid;
    input_ = in[1];
    output_ = out[0];
}

HostSession::~HostSession() {
    if (pid_ > 0) Kill();
}

std::string HostSession::Send(const std::string& command) {
    return Post(command) ? Reply() : "<eof>";
}

bool HostSession::Post(const std::string& command) {
    if (input_ < 0) return false;
    const std::string line = command + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = write(input_, line.data() + sent, line.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string HostSession::Reply() {
    if (output_ < 0) return "<eof>";
    for (;;) {
        const size_t at = pending_.find('\n');
        if (at != std::string::npos) {
            std::string reply = pending_.substr(0, at);
            pending_.erase(0, at + 1);
            return reply;
        }
        char buffer[4096];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n <= 0) return "<eof>";
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

int HostSession::Finish() {
    if (pid_ <= 0) return -1;
    close(input_);
    input_ = -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    close(output_);
    output_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void HostSession::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (input_ >= 0) close(input_);
    if (output_ >= 0) close(output_);
    input_ = output_ = -1;
}

}  // namespace vantrel::test
