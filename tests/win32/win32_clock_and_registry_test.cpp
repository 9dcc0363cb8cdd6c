// The Win32 clocks, the exception guard of the time-stamp counter probe, and the registry
// calls' handling of string sizes and small buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "counter_probe.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/test_seam.h"
#include "settings/settings_store.h"
#include "win32_api.h"

namespace vantrel::platform {
namespace {

// An exception record as the system hands it to vectored handlers.
struct FakeFault {
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    EXCEPTION_POINTERS pointers{&record, &context};

    FakeFault(DWORD code, const void* address) {
        record.ExceptionCode = code;
        record.ExceptionAddress = const_cast<void*>(address);
#if defined(__x86_64__)
        context.Rip = reinterpret_cast<DWORD64>(address);
        context.Rcx = 1;
#else
        context.Eip = reinterpret_cast<DWORD>(address);
        context.Ecx = 1;
#endif
    }
    uintptr_t InstructionPointer() const {
#if defined(__x86_64__)
        return context.Rip;
#else
        return context.Eip;
#endif
    }
    uintptr_t Flag() const {
#if defined(__x86_64__)
        return context.Rcx;
#else
        return context.Ecx;
#endif
    }
};

TEST(Win32CounterProbe, AFaultAtTheProbeIsSteppedOverAndMarkedOthersAreLeftAlone) {
    const void* site = win32::CounterProbeAddress();
    for (DWORD code : {static_cast<DWORD>(EXCEPTION_PRIV_INSTRUCTION),
                       static_cast<DWORD>(EXCEPTION_ILLEGAL_INSTRUCTION),
                       static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)}) {
        FakeFault fault(code, site);
        EXPECT_EQ(win32::SkipFaultingCounterProbe(&fault.pointers), EXCEPTION_CONTINUE_EXECUTION);
        EXPECT_EQ(fault.InstructionPointer(), reinterpret_cast<uintptr_t>(site) + 2) << "RDTSC";
        EXPECT_EQ(fault.Flag(), 0u) << "the reading is marked as failed";
    }
    const char* elsewhere = static_cast<const char*>(site) + 2;
    FakeFault other(EXCEPTION_PRIV_INSTRUCTION, elsewhere);
    EXPECT_EQ(win32::SkipFaultingCounterProbe(&other.pointers), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_EQ(other.InstructionPointer(), reinterpret_cast<uintptr_t>(elsewhere));
    FakeFault divide(EXCEPTION_INT_DIVIDE_BY_ZERO, site);
    EXPECT_EQ(win32::SkipFaultingCounterProbe(&divide.pointers), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_EQ(divide.Flag(), 1u);
}

TEST(Win32Clock, CounterReferenceClockAndMillisecondTickAdvanceTogether) {
    uint64_t probed = 0;
    if (!win32::ProbeTimeStampCounter(&probed)) GTEST_SKIP() << "no usable time-stamp counter";
    uint64_t before = 0, after = 0;
    ASSERT_TRUE(ReadTimeStampCounter(&before));
    const int64_t startNs = HighResolutionNanoseconds();
    const uint32_t startMs = TimeGetTime();
    ::Sleep(50);
    ASSERT_TRUE(ReadTimeStampCounter(&after));
    const int64_t elapsedNs = HighResolutionNanoseconds() - startNs;
    EXPECT_GT(after, before);
    EXPECT_GE(elapsedNs, 40'000'000);
    EXPECT_GE(static_cast<uint32_t>(TimeGetTime() - startMs), 40u);

    testing::FailAfter(testing::Fault::TimeStampCounter, 0);
    EXPECT_FALSE(ReadTimeStampCounter(&after));
}

TEST(Win32Clock, LocalTimeIsTheSystemsUnlessFaked) {
    SYSTEMTIME system{};
    ::GetLocalTime(&system);
    SystemTime ours = GetLocalTime();
    EXPECT_EQ(ours.year, system.wYear);
    EXPECT_EQ(ours.month, system.wMonth);
    EXPECT_GE(ours.dayOfWeek, 0);
    EXPECT_LE(ours.dayOfWeek, 6);
    SystemTime fake;
    fake.year = 2001;
    fake.milliseconds = 7;
    testing::SetFakeLocalTime(&fake);
    EXPECT_EQ(GetLocalTime().year, 2001);
    EXPECT_EQ(GetLocalTime().milliseconds, 7);
}

TEST(Win32Registry, StringsKeepTheirSizeAndSmallBuffersAreLeftAlone) {
    const std::string key = std::string(kRootSubKey) + "\\win32\\strings";
    RegKey handle = nullptr;
    ASSERT_EQ(RegCreateKey(key, kKeyReadWrite, &handle), kErrorSuccess);
    const std::string text = "c:\\logs";  // a zero follows in memory
    ASSERT_EQ(RegSetValue(handle, "LogFolderPath", kRegSz, text.c_str(), 7), kErrorSuccess);
    char buffer[16];
    memset(buffer, 'z', sizeof buffer);
    uint32_t size = sizeof buffer, type = 0;
    ASSERT_EQ(RegQueryValue(handle, "LogFolderPath", &type, buffer, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 7u) << "no terminating zero is stored";
    EXPECT_EQ(std::string(buffer, 7), text);

    memset(buffer, 'z', sizeof buffer);
    size = 4;
    EXPECT_EQ(RegQueryValue(handle, "LogFolderPath", nullptr, buffer, &size), kErrorMoreData);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(std::string(buffer, 4), "zzzz") << "the buffer is untouched";
    RegCloseKey(handle);

    testing::FailAfter(testing::Fault::RegistryOpen, 0);
    EXPECT_NE(RegOpenKey(key, kKeyAllAccess, &handle), kErrorSuccess);
    EXPECT_EQ(handle, nullptr);
    ASSERT_EQ(RegOpenKey(key, kKeyAllAccess, &handle), kErrorSuccess);
    RegCloseKey(handle);
    EXPECT_NE(RegOpenKey(key + "\\missing", kKeyAllAccess, &handle), kErrorSuccess);
}

}  // namespace
}  // namespace vantrel::platform
