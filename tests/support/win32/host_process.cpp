// Host processes on Windows: CreateProcessA with anonymous pipes. The host shares the test's
// registry (the Wine prefix) and finds vantrel.dll as a shipped host does, beside itself.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/win32/win32_api.h"
#include "support/host.h"
#include "support/test_environment.h"

namespace vantrel::test {

struct HostProcess {
    HANDLE process = nullptr, input = nullptr, output = nullptr;
};

namespace {
constexpr DWORD kPatienceMs = 60000;

// A pipe whose child end alone is inherited, so that no other host keeps it open.
bool MakePipe(HANDLE* childEnd, HANDLE* ourEnd, bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE ends[2] = {};
    if (!::CreatePipe(&ends[0], &ends[1], &inherit, 0)) return false;
    *childEnd = ends[childReads ? 0 : 1], *ourEnd = ends[childReads ? 1 : 0];
    return ::SetHandleInformation(*ourEnd, HANDLE_FLAG_INHERIT, 0);
}

void CloseAll(std::initializer_list<HANDLE> handles) {
    for (HANDLE handle : handles)
        if (handle) ::CloseHandle(handle);
}

// A cross build names its files by their Linux paths; Wine shows the Linux root as drive Z:.
bool CopyIn(std::string from, const std::string& to) {
    std::replace(from.begin(), from.end(), '/', '\\');
    return ::CopyFileA((from[0] == '\\' ? "Z:" + from : from).c_str(), to.c_str(), TRUE);
}
}  // namespace

HostInstall InstallHost(const std::string& exeName) {
    const std::string folder = MakeTempDir("host");
    HostInstall install{folder, folder + "\\" + exeName + ".exe"};
    EXPECT_TRUE(CopyIn(VANTREL_TEST_HOST_PATH, install.exePath));
    EXPECT_TRUE(CopyIn(VANTREL_LIBRARY_PATH, folder + "\\vantrel.dll"));
    return install;
}

HostProcess* StartHostProcess(const std::string& exePath, const HostOptions& options) {
    ::SetEnvironmentVariableA("VANTREL_LIBRARY", nullptr);  // the host finds the DLL beside it
    auto* process = new HostProcess;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup, startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);  // shows up in the test's output
    PROCESS_INFORMATION info{};
    std::string line = "\"" + exePath + "\"";
    for (const std::string& argument : options.arguments) line += " \"" + argument + "\"";
    const bool started = MakePipe(&startup.hStdInput, &process->input, true) &&
                         MakePipe(&startup.hStdOutput, &process->output, false) &&
                         ::CreateProcessA(exePath.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &info);
    EXPECT_TRUE(started) << "cannot start " << exePath << ": error " << ::GetLastError();
    CloseAll({startup.hStdInput, startup.hStdOutput, info.hThread});
    if (started) return process->process = info.hProcess, process;
    CloseAll({process->input, process->output});
    delete process;
    return nullptr;
}

bool WriteToHost(HostProcess* process, const std::string& text) {
    DWORD written = 0;
    return ::WriteFile(process->input, text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) &&
           written == text.size();
}

bool ReadFromHost(HostProcess* process, std::string* out) {  // anonymous pipes cannot time out
    DWORD available = 0, got = 0, waited = 0;
    char buffer[4096];
    for (; ::PeekNamedPipe(process->output, nullptr, 0, nullptr, &available, nullptr) && !available;
         ::Sleep(1))
        if (++waited > kPatienceMs) return false;
    const bool read =
        available && ::ReadFile(process->output, buffer, std::min<DWORD>(available, sizeof buffer),
                                &got, nullptr);
    out->append(buffer, got);
    return read && got > 0;
}

int WaitForHost(HostProcess* process, bool kill, std::string* rest) {
    if (kill) ::TerminateProcess(process->process, 9);
    CloseAll({process->input});
    // Read to the end first: a host blocked on a full pipe would never exit.
    while (ReadFromHost(process, rest)) continue;
    if (::WaitForSingleObject(process->process, kPatienceMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "a host did not end; killing it";
        ::TerminateProcess(process->process, 99);
        ::WaitForSingleObject(process->process, INFINITE);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process->process, &code);
    CloseAll({process->process, process->output});
    delete process;
    return static_cast<int>(code);
}

}  // namespace vantrel::test
