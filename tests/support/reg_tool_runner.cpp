#include "support/reg_tool_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_environment.h"

extern char** environ;

namespace vantrel::test {

bool RegToolBuilt() {
    return !std::string(VANTREL_REG_TOOL_PATH).empty();
}

RegToolRun RunRegTool(const std::vector<std::string>& arguments) {
    RegToolRun run;
    std::string tool = VANTREL_REG_TOOL_PATH;
    // Its error output goes to a file, so that a full pipe never blocks the editor.
    const std::string errors = MakeTempDir("reg-tool") + "/stderr";
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<char*> argv{tool.data()};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    const int spawned = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char buffer[4096];
    for (ssize_t n; spawned == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;)
        run.out.append(buffer, n);
    close(out[0]);
    int status = 0;
    if (spawned == 0 && waitpid(pid, &status, 0) == pid) {
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.err = ReadFile(errors);
    }
    return run;
}

}  // namespace vantrel::test
