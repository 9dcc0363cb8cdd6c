// What the in-process cases share: printf-style calls through CLog's va_list entry points, a
// service set up as the manager sets one up, the fault seam and the file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "log/clog_service.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/platform_config.h"
#include "platform/test_seam.h"
#include "support/log_text.h"
#include "support/settings_values.h"
#include "support/test_environment.h"

namespace vantrel::test {

using platform::testing::ClearFaults;
using platform::testing::FailAfter;
using platform::testing::Fault;
const std::string kSep(1, platform::kPathSeparator);
constexpr char kInstancePath[] = "/tmp/x/host\\proc1";  // of the services InitService sets up

int32_t Log(CLog& log, const char* format, ...);
// A bitmap of nullptr makes an empty image file.
int32_t Picture(CLog& log, const char* imageName, const void* bitmap, const char* format, ...);
// Init as the manager calls it, on the calling (loading) thread; the folder ends in a separator.
int32_t InitService(CLogService& service, const std::string& folder, const char* logName);

}  // namespace vantrel::test
