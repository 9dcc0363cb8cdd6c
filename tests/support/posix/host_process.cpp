// Host processes on POSIX: fork and exec (through env, which sets the host's variables: only
// async-signal-safe calls may follow a fork) with pipes. Re-executed tests use the same runner.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/host.h"
#include "support/reexec.h"
#include "support/test_environment.h"
#include "support/unprivileged.h"

namespace vantrel::test {

struct HostProcess {
    pid_t pid;
    int input, output;
};

HostInstall InstallHost(const std::string& exeName) {
    const std::string folder = MakeTempDir("host");
    chmod(folder.c_str(), 0755);  // a host that drops root must still reach it
    std::filesystem::copy_file(VANTREL_TEST_HOST_PATH, folder + "/" + exeName);
    return {folder, folder + "/" + exeName};
}

HostProcess* StartHostProcess(const std::string& exePath, const HostOptions& options) {
    signal(SIGPIPE, SIG_IGN);  // a host that died must show up as "<eof>", not end the test
    std::string library = VANTREL_LIBRARY_PATH;
    if (options.dropToId >= 0) {  // a copy the host's user can reach, wherever the build lies
        library = exePath.substr(0, exePath.rfind('/')) + "/libvantrel.so";
        std::filesystem::copy_file(VANTREL_LIBRARY_PATH, library,
                                   std::filesystem::copy_options::skip_existing);
        chmod(library.c_str(), 0755);
    }
    std::vector<std::string> words{"env", "VANTREL_LIBRARY=" + library};
    words.insert(words.end(), options.wrapper.begin(), options.wrapper.end());
    words.push_back(exePath);
    words.insert(words.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int in[2] = {-1, -1}, out[2] = {-1, -1};
    const pid_t pid = pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) ? -1 : fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (options.dropToId >= 0 && !DropPrivilegesTo(static_cast<uid_t>(options.dropToId)))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    for (int fd : {in[0], out[1], pid < 0 ? in[1] : -1, pid < 0 ? out[0] : -1})
        if (fd >= 0) close(fd);
    return pid < 0 ? nullptr : new HostProcess{pid, in[1], out[0]};
}

bool WriteToHost(HostProcess* process, const std::string& text) {  // a blocking pipe takes all
    return write(process->input, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool ReadFromHost(HostProcess* process, std::string* out) {
    pollfd ready{process->output, POLLIN, 0};
    char buffer[4096];
    const ssize_t n =
        poll(&ready, 1, 60000) <= 0 ? 0 : read(process->output, buffer, sizeof buffer);
    if (n > 0) out->append(buffer, static_cast<size_t>(n));
    return n > 0;
}

int WaitForHost(HostProcess* process, bool kill, std::string* rest) {
    if (kill) ::kill(process->pid, SIGKILL);
    close(process->input);
    // Read to the end first: a host blocked on a full pipe would never exit.
    while (ReadFromHost(process, rest)) continue;
    int status = 0;
    waitpid(process->pid, &status, 0);
    close(process->output);
    delete process;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ExpectPassesInChild(const std::string& testName) {
    const std::string folder = MakeTempDir("child");
    std::filesystem::copy_file("/proc/self/exe", folder + "/child");
    Host child({folder, folder + "/child"},
               {-1, {}, {"--gtest_filter=" + testName, "--gtest_also_run_disabled_tests"}});
    std::string output;
    // A child silent for a minute has failed: it is killed rather than hold up the suite.
    for (std::string line; (line = child.Reply()) != "<eof>";) output += line + "\n";
    child.Kill();
    const int status = child.Finish();
    if (output.find("[  SKIPPED ]") != std::string::npos) GTEST_SKIP() << output;
    // A fault inside the test ends the child before it reports; a leak found at exit (in a
    // sanitizer build) makes its status nonzero.
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    EXPECT_EQ(status, 0) << output;
}

}  // namespace vantrel::test
