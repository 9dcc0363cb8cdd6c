// The service's summary block, written after the thread texts at every merge.
#include <cstdio>
#include <string>

#include "log/clog_service.h"
#include "log/log_layout.h"
#include "log/log_mode.h"
#include "log/time_text.h"
#include "platform/clock.h"

namespace vantrel {

namespace {

bool SameSecond(const platform::SystemTime& a, const platform::SystemTime& b) {
    return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day &&
           a.month == b.month && a.year == b.year;
}

}  // namespace

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
        summaryMillisecondsAt = 0;
    }
    // The time of the last write, written with every entry: the tick clock tells it for a
    // third of the precise clock's cost. Stamped entries read the precise clock, and the
    // summary after them must not seem older than they are.
    const platform::SystemTime now =
        (mode & LogModeTimeStamp) ? platform::GetLocalTime() : platform::GetCoarseLocalTime();
    // A merge per entry: within one second only the three digits of the milliseconds change.
    if (summaryMillisecondsAt != 0 && SameSecond(now, summaryTime) && now.milliseconds >= 0 &&
        now.milliseconds < 1000) {
        char* digits = &summaryText[summaryMillisecondsAt];
        digits[0] = static_cast<char>('0' + now.milliseconds / 100);
        digits[1] = static_cast<char>('0' + now.milliseconds / 10 % 10);
        digits[2] = static_cast<char>('0' + now.milliseconds % 10);
        summaryTime = now;
        return summaryText;
    }
    char timeLine[96];
    const size_t timeLength = FormatLogTimeLine(timeLine, now);
    summaryText.resize(summaryTimeAt);
    summaryText.append(timeLine, timeLength);
    summaryText += kSummaryEnd;
    summaryTime = now;
    // The line ends in ":mmm\r\n" whenever the milliseconds took their three digits.
    const bool threeDigits = timeLength >= 6 && timeLine[timeLength - 6] == ':' &&
                             now.milliseconds >= 0 && now.milliseconds < 1000;
    summaryMillisecondsAt = threeDigits ? summaryTimeAt + timeLength - 5 : 0;
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
