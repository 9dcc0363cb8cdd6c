// The service's summary block, written after the thread texts at every merge.
#include <cstdio>
#include <string>

#include "log/clog_service.h"
#include "log/log_layout.h"
#include "log/time_text.h"
#include "platform/clock.h"

namespace vantrel {

const std::string& CLogService::SummaryText() {
    const int64_t threads = static_cast<int64_t>(threadLogs.size());
    if (threads != summaryThreads) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "\r\nProcess ID: 0x%x\r\nThere are %d thread(s) involved in this log "
                      "process.\r\nThe initializing/loading thread of vantrel.dll is 0x%08x.\r\n",
                      processId, static_cast<int>(threads), threadId);
        summaryText = line;
        summaryTimeAt = summaryText.size();
        summaryThreads = threads;
    }
    char timeLine[96];
    const size_t timeLength = FormatLogTimeLine(timeLine, platform::GetLocalTime());
    summaryText.resize(summaryTimeAt);
    summaryText.append(timeLine, timeLength);
    summaryText += kSummaryEnd;
    return summaryText;
}

int32_t CLogService::WriteSummary() {
    const std::string& block = SummaryText();
    // A write failure passes to the merge, which reports it.
    WriteRaw(block.data(), static_cast<uint32_t>(block.size()));
    WriteDocumentEnd();
    return 1;
}

}  // namespace vantrel
