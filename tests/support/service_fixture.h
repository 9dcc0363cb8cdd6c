// Log services driven in-process: the printf-style calls through CLog's va_list entry points,
// and a service set up as the manager sets one up.
#pragma once

#include <cstdint>
#include <string>

#include "log/clog_service.h"
#include "log/log_mode.h"

namespace vantrel::test {

// The instance path the services of these tests belong to.
constexpr char kInstancePath[] = "/tmp/x/host\\proc1";

int32_t Log(CLog& log, const char* format, ...);
// A bitmap of nullptr makes an empty image file.
int32_t Picture(CLog& log, const char* imageName, const void* bitmap, const char* format, ...);

// Init as the manager calls it, on the calling thread, which is the loading thread unless
// another id is given; the folder carries its trailing separator.
int32_t InitService(CLogService& service, const std::string& folder, const char* logName,
                    uint32_t mode = LogModeFromSettings, uint16_t atom = 0,
                    uint32_t loadingThreadId = 0);

}  // namespace vantrel::test
