// Log services driven in-process: printf-style calls through CLog's va_list entry points, and a
// service set up as the manager sets one up.
#pragma once

#include <cstdint>
#include <string>

#include "log/clog_service.h"

namespace vantrel::test {

constexpr char kInstancePath[] = "/tmp/x/host\\proc1";  // of the services InitService sets up

int32_t Log(CLog& log, const char* format, ...);
// A bitmap of nullptr makes an empty image file.
int32_t Picture(CLog& log, const char* imageName, const void* bitmap, const char* format, ...);
// Init as the manager calls it, on the calling (loading) thread; the folder ends in a separator.
int32_t InitService(CLogService& service, const std::string& folder, const char* logName);

}  // namespace vantrel::test
