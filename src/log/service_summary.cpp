// The service's summary block, written after the thread texts at every merge.
#include <cstdio>
#include <string>

#include "log/clog_service.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "platform/clock.h"

namespace vantrel {

int32_t CLogService::WriteSummary() {
    const platform::SystemTime now = platform::GetLocalTime();
    char line[160];
    std::string block;
    std::snprintf(line, sizeof line,
                  "\r\nProcess ID: 0x%x\r\nThere are %d thread(s) involved in this log "
                  "process.\r\n",
                  processId, static_cast<int>(threadLogs.size()));
    block += line;
    std::snprintf(line, sizeof line,
                  "The initializing/loading thread of vantrel.dll is 0x%08x.\r\n", threadId);
    block += line;
    std::snprintf(line, sizeof line, "Log Time: %04d/%02d/%02d %02d:%02d:%02d:%03d\r\n", now.year,
                  now.month, now.day, now.hour, now.minute, now.second, now.milliseconds);
    block += line;
    block.append(72, '/');
    block += "\r\n\r\n";
    // A write failure passes to the merge, which reports it.
    WriteRaw(block.data(), static_cast<uint32_t>(block.size()));
    if (mode & LogModeHtml) {
        // Keeps the file a complete document after every merge.
        WriteRaw(kHtmlEndBlock, sizeof kHtmlEndBlock - 1);
        WriteRaw(kHtmlClosingLine, sizeof kHtmlClosingLine - 1);
    }
    return 1;
}

}  // namespace vantrel
