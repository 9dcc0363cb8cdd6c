// The in-process service calls, and the whole-file reads and writes of the test environment.
#include "support/service_fixture.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <fstream>
#include <iterator>

#include "log/log_mode.h"
#include "platform/process.h"
#include "support/test_environment.h"

namespace vantrel::test {

int32_t Log(CLog& log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int32_t result = log.Printf(0, format, args);
    va_end(args);
    return result;
}

int32_t Picture(CLog& log, const char* imageName, const void* bitmap, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int32_t result = log.DrawBitmap(0, imageName, const_cast<void*>(bitmap), format, args);
    va_end(args);
    return result;
}

int32_t InitService(CLogService& service, const std::string& folder, const char* logName) {
    platform::ThreadHandle handle = nullptr;
    EXPECT_TRUE(platform::DuplicateThreadHandle(platform::GetCurrentThread(), &handle));
    return service.Init("/tmp/x/host", 1, 0, platform::GetCurrentProcessId(), handle,
                        platform::GetCurrentThreadId(), LogModeFromSettings, folder.c_str(),
                        logName);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace vantrel::test
