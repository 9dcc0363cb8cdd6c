#include "support/win32/host_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "support/test_environment.h"

namespace vantrel::test {

namespace {

constexpr ULONGLONG kPatienceMs = 60000;

// A cross build names its files by their Linux paths; Wine shows the Linux root as drive Z:.
std::string NativePath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Quotes one argument the way the C runtime's command-line parser takes it apart again.
void AppendArgument(std::string* line, const std::string& argument) {
    line->append(" \"");
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line->append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line->push_back(c);
    }
    line->append(backslashes * 2, '\\');
    line->push_back('"');
}

// A pipe whose child end alone is inherited, so that no other host keeps it open.
bool MakePipe(HANDLE* childEnd, HANDLE* ourEnd, bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) return false;
    *childEnd = childReads ? read : write;
    *ourEnd = childReads ? write : read;
    ::SetHandleInformation(*ourEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

void CloseIfOpen(HANDLE* handle) {
    if (*handle) ::CloseHandle(*handle);
    *handle = nullptr;
}

// Appends what the pipe holds, waiting for data until the deadline; false at the pipe's end
// (its writer closed it) or at the deadline.
bool ReadSome(HANDLE pipe, std::string* out, ULONGLONG deadline) {
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!::ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got,
                            nullptr) ||
                got == 0) {
                return false;
            }
            out->append(buffer, got);
            return true;
        }
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(2);
    }
}

}  // namespace

std::string HostInstall::InstanceFolder(int n) const {
    return folder + "\\vantrel\\" + exePath.substr(exePath.rfind('\\') + 1) + "\\proc" +
           std::to_string(n);
}

std::string HostInstall::KeyName() const {
    std::string name = exePath;
    for (char& c : name)
        c = c == '\\' ? '/' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return name;
}

HostInstall InstallHost(const std::string& exeName) {
    HostInstall host;
    host.folder = MakeTempDir("host");
    host.exePath = host.folder + "\\" + exeName;
    // The host finds the library as a shipped host does: beside its executable.
    ::SetEnvironmentVariableA("VANTREL_LIBRARY", nullptr);
    EXPECT_TRUE(
        ::CopyFileA(NativePath(VANTREL_TEST_HOST_PATH).c_str(), host.exePath.c_str(), TRUE));
    EXPECT_TRUE(::CopyFileA(NativePath(VANTREL_LIBRARY_PATH).c_str(),
                            (host.folder + "\\vantrel.dll").c_str(), TRUE));
    return host;
}

HostRun RunHost(const HostInstall& host, const std::vector<std::string>& commands) {
    RunningHost running(host, commands);
    HostRun run;
    run.pid = running.pid();
    run.loadingThreadId = running.loadingThreadId();
    run.exitCode = running.Finish();
    run.lines = running.lines();
    return run;
}

RunningHost::RunningHost(const HostInstall& host, const std::vector<std::string>& commands) {
    std::string line = "\"" + host.exePath + "\"";
    for (const std::string& command : commands) AppendArgument(&line, command);
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!MakePipe(&childIn, &stdin_, true)) return;
    if (!MakePipe(&childOut, &stdout_, false)) {
        ::CloseHandle(childIn);
        return;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);  // shows up in the test's output
    PROCESS_INFORMATION info{};
    if (::CreateProcessA(host.exePath.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         nullptr, &startup, &info)) {
        process_ = info.hProcess;
        ::CloseHandle(info.hThread);
        pid_ = info.dwProcessId;
        threadId_ = info.dwThreadId;
    } else {
        ADD_FAILURE() << "CreateProcessA " << host.exePath << ": error " << ::GetLastError();
    }
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
}

RunningHost::~RunningHost() {
    Kill();
}

bool RunningHost::WaitForLine(const std::string& line) {
    const ULONGLONG deadline = ::GetTickCount64() + kPatienceMs;
    for (;;) {
        size_t at;
        while ((at = pending_.find('\n')) != std::string::npos) {
            std::string got = pending_.substr(0, at);
            pending_.erase(0, at + 1);
            if (!got.empty() && got.back() == '\r') got.pop_back();  // stdout is in text mode
            lines_.push_back(got);
            if (got == line) return true;
        }
        if (!stdout_ || !ReadSome(stdout_, &pending_, deadline)) return false;
    }
}

bool RunningHost::SendLine() {
    DWORD written = 0;
    return stdin_ && ::WriteFile(stdin_, "\n", 1, &written, nullptr) && written == 1;
}

int RunningHost::Wait() {
    if (!process_) return -1;
    if (::WaitForSingleObject(process_, static_cast<DWORD>(kPatienceMs)) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "host " << pid_ << " did not end; killing it";
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, INFINITE);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    CloseIfOpen(&process_);
    CloseIfOpen(&stdin_);
    CloseIfOpen(&stdout_);
    return static_cast<int>(code);
}

int RunningHost::Finish() {
    CloseIfOpen(&stdin_);
    WaitForLine("\x01never");
    return Wait();
}

void RunningHost::Kill() {
    if (process_) ::TerminateProcess(process_, 9);
    Wait();
}

}  // namespace vantrel::test
