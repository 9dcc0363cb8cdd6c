// The Win32 backend where it differs from the POSIX one: exclusive files never emptied while
// held, device names, the counter probe's handler, registry string sizes; a log held elsewhere.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/registry.h"
#include "platform/win32/counter_probe.h"
#include "platform/win32/win32_api.h"
#include "settings/settings_store.h"
#include "support/host.h"
#include "support/log_text.h"
#include "support/test_environment.h"

namespace vantrel::platform {
namespace {
using namespace test;

TEST(Win32File, HeldFilesFoldersAndDeviceNamesAreRefusedAndAHeldFileIsNeverEmptied) {
    const std::string dir = MakeTempDir("file"), path = dir + "\\held.log";
    WriteFile(path, "earlier text");
    File holder, other;
    ASSERT_TRUE(holder.Open(path, FileOpenMode::ExistingRead));
    // Reserved device names open the device whatever folder and extension they carry.
    for (const char* name : {"held.log", "nul.log", "NUL", "Nul.log.htm"})
        for (int mode = 0; mode <= int(FileOpenMode::ExistingRead); ++mode)  // every mode
            EXPECT_FALSE(other.Open(dir + "\\" + name, FileOpenMode(mode)) || other.IsOpen())
                << name << mode;
    EXPECT_FALSE(other.Open(dir, FileOpenMode::ExistingRead));
    // Nor may anyone outside the library read a held file meanwhile.
    HANDLE reader = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
    holder.Close();
    EXPECT_EQ(ReadFile(path), "earlier text");
    ASSERT_TRUE(holder.Open(path, FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_EQ(holder.GetLength(), 0u) << "emptied once nobody holds it";
    ASSERT_TRUE(other.Open(dir + "\\console.log", FileOpenMode::CreateOrEmptyReadWrite));
}

// What only a refused system call reaches.
TEST(Win32File, RefusedCallsThrowAndChangeNothing) {
    const std::string path = MakeTempDir("refused") + "\\f.log";
    WriteFile(path, "12345");
    File reader, writer;
    uint64_t length = 0;
    const WritePiece piece{"x", 1};
    ASSERT_TRUE(reader.Open(path, FileOpenMode::ExistingRead));
    EXPECT_TRUE(reader.IsStillAtPath(&length) && length == 5);
    EXPECT_THROW(reader.Write("x", 1), FileError);
    EXPECT_THROW(reader.WriteAt(0, &piece, 1), FileError);
    EXPECT_THROW(reader.Seek(uint64_t{1} << 63), FileError);
    EXPECT_THROW(reader.SetLength(uint64_t{1} << 63), FileError);
    reader.Close();
    ASSERT_TRUE(writer.Open(path, FileOpenMode::ExistingWrite));
    EXPECT_THROW(writer.Read(&length, 1), FileError);
    writer.Close();
    EXPECT_EQ(ReadFile(path), "12345");
}

TEST(Win32CounterProbe, AFaultAtTheProbeIsSteppedOverAndMarkedOthersAreLeftAlone) {
    const char* site = static_cast<const char*>(win32::CounterProbeAddress());
    // clang-format off
    const struct { DWORD code; int offset; bool handled; } rows[] = {
        {EXCEPTION_PRIV_INSTRUCTION, 0, true},      // how Windows refuses RDTSC
        {EXCEPTION_ILLEGAL_INSTRUCTION, 0, true},   // how emulators may refuse it
        {EXCEPTION_ACCESS_VIOLATION, 0, true},      // and other hosts
        {EXCEPTION_PRIV_INSTRUCTION, 2, false},     // a fault elsewhere is not ours
        {EXCEPTION_INT_DIVIDE_BY_ZERO, 0, false},   // nor another kind at the site
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.code << " at +" << row.offset);
        EXCEPTION_RECORD record{};
        CONTEXT context{};
        EXCEPTION_POINTERS pointers{&record, &context};
#if defined(__x86_64__)
        DWORD64 &ip = context.Rip, &flag = context.Rcx;
#else
        DWORD &ip = context.Eip, &flag = context.Ecx;
#endif
        record.ExceptionCode = row.code;
        record.ExceptionAddress = const_cast<char*>(site + row.offset);
        ip = reinterpret_cast<uintptr_t>(site + row.offset);
        flag = 1;
        EXPECT_EQ(win32::SkipFaultingCounterProbe(&pointers),
                  row.handled ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH);
        // Stepped over the two bytes of RDTSC, with the reading marked failed; else untouched.
        EXPECT_EQ(ip, reinterpret_cast<uintptr_t>(site + row.offset) + (row.handled ? 2 : 0));
        EXPECT_EQ(flag, row.handled ? 0u : 1u);
    }
}

TEST(Win32Registry, StringsKeepTheirSizeAndSmallBuffersAreLeftAlone) {
    RegKey key = nullptr;
    ASSERT_EQ(RegCreateKey(std::string(kRootSubKey) + "\\win32", kKeyReadWrite, &key),
              kErrorSuccess);
    const std::string text = "c:\\logs";  // a zero follows in memory
    ASSERT_EQ(RegSetValue(key, "LogFolderPath", kRegSz, text.c_str(), 7), kErrorSuccess);
    // rows: a buffer that fits (no terminating zero stored) and one too small (left untouched)
    for (const uint32_t room : {16u, 4u}) {
        std::string buffer(16, 'z');
        uint32_t size = room, type = 0;
        EXPECT_EQ(RegQueryValue(key, "LogFolderPath", &type, buffer.data(), &size),
                  room > 7 ? kErrorSuccess : kErrorMoreData);
        EXPECT_EQ(size, 7u);
        EXPECT_EQ(buffer.substr(0, 8), room > 7 ? text + "z" : "zzzzzzzz") << room;
        EXPECT_TRUE(room <= 7 || type == kRegSz) << type;
    }
    RegCloseKey(key);
}

// While another process holds the file, calls fail but keep their text, and the first call
// after the release writes all of it. The executable named in other capitals is the same one.
TEST(Win32Host, AFileHeldElsewhereDelaysTheTextAndPathsDifferingInCaseShareNumbers) {
    const HostInstall install = InstallHost("Viewer");
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
    Host shouted(HostInstall{install.folder, install.folder + "\\VIEWER.EXE"});
    ASSERT_EQ(shouted.Send("print|shouted\\n"), "1");
    EXPECT_EQ(ReadFile(install.LogPath("vantrel.log", 2)).rfind("shouted\r\n", 0), 0u);
    EXPECT_EQ(host.Finish(), 0);
}

}  // namespace
}  // namespace vantrel::platform
