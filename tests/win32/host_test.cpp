// End to end on Windows only: log files are opened without sharing, and paths ignore case.
#include "support/host.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/win32_api.h"
#include "support/log_text.h"
#include "support/test_environment.h"

namespace vantrel::test {
namespace {

// While another process holds the file, calls fail but keep their text, and the first call
// after the release writes all of it.
TEST(Win32Host, AFileHeldByAnotherProcessFailsCallsAndTheTextFollowsOnRelease) {
    const HostInstall install = InstallHost();
    Host host(install);
    ASSERT_EQ(host.Send("print|first\\n"), "1");
    const std::string path = install.LogPath("vantrel.log"), before = ReadFile(path);
    HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(host.Send("print|while held\\n"), "0");
    ::CloseHandle(held);
    EXPECT_EQ(ReadFile(path), before) << "nothing was written while the file was held";
    EXPECT_EQ(host.Send("print|after\\n"), "1");
    EXPECT_EQ(MaskTimes(ReadFile(path)), "first\r\nwhile held\r\nafter\r\n" +
                                             ServiceSummary(host.pid(), 1, host.loadingThreadId()));
    EXPECT_EQ(host.Finish(), 0);
}

// The same executable named in other capitals is the same executable.
TEST(Win32Host, PathsDifferingInCaseShareInstanceNumbers) {
    const HostInstall install = InstallHost("Viewer");
    const HostInstall shouted{install.folder, install.folder + "\\VIEWER.EXE"};
    Host a(install);
    ASSERT_EQ(a.Send("noop"), "9");
    Host b(shouted);
    ASSERT_EQ(b.Send("print|shouted\\n"), "1");
    EXPECT_EQ(ReadFile(shouted.LogPath("vantrel.log", 2)).rfind("shouted\r\n", 0), 0u);
    EXPECT_FALSE(PathExists(install.LogPath("vantrel.log", 1)));
}

}  // namespace
}  // namespace vantrel::test
