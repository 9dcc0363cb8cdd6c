// The six dtimer exports: thin forwarders to the process-wide timer table. The table depends
// on no other static object and building it costs no calibration, so its place among the
// library's static objects does not matter. It is never destroyed: at exit a host thread may
// still time while the unload runs, and the table holds nothing but its own storage.
#include <new>

#include "api/export_guard.h"
#include "timer/timer_table.h"
#include "vantrel/vantrel.h"

using vantrel::GuardedTimerCall;

namespace {

alignas(vantrel::CTimerTable) unsigned char timerTableStorage[sizeof(vantrel::CTimerTable)];
vantrel::CTimerTable& timerTable = *new (timerTableStorage) vantrel::CTimerTable();

vantrel::CTimerTable& TimerTable() {
    return timerTable;
}

}  // namespace

extern "C" {

VANTREL_API int64_t VANTREL_CALL dtimerRecordBegin(int32_t index, int32_t countIt) {
    return GuardedTimerCall<int64_t>(0, [&] { return TimerTable().RecordBegin(index, countIt); });
}

VANTREL_API int64_t VANTREL_CALL dtimerRecordEnd(int32_t index) {
    return GuardedTimerCall<int64_t>(0, [&] { return TimerTable().RecordEnd(index); });
}

VANTREL_API int64_t VANTREL_CALL dtimerGetElapsed(int32_t index) {
    return GuardedTimerCall<int64_t>(0, [&] { return TimerTable().GetElapsed(index); });
}

VANTREL_API int32_t VANTREL_CALL dtimerGetCount(int32_t index) {
    return GuardedTimerCall<int32_t>(0, [&] { return TimerTable().GetCount(index); });
}

VANTREL_API int64_t VANTREL_CALL dtimerGetAverageElapsed(int32_t index) {
    return GuardedTimerCall<int64_t>(0, [&] { return TimerTable().GetAverageElapsed(index); });
}

VANTREL_API void VANTREL_CALL dtimerReset(int32_t index) {
    GuardedTimerCall<int>(0, [&] {
        TimerTable().Reset(index);
        return 0;
    });
}

}  // extern "C"
