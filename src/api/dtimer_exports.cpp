// The six dtimer exports: thin forwarders to the process-wide timer table. The table is a
// static object built when the library is loaded and destroyed when it is unloaded; it depends
// on no other static object, and building it costs no calibration (that waits for the first
// clock reading), so its place among the library's static objects does not matter.
#include "timer/timer_table.h"
#include "vantrel/vantrel.h"

namespace {

vantrel::CTimerTable timerTable;

}  // namespace

extern "C" {

VANTREL_API int64_t VANTREL_CALL dtimerRecordBegin(int32_t index, int32_t countIt) {
    try {
        return timerTable.RecordBegin(index, countIt);
    } catch (...) {
        return 0;
    }
}

VANTREL_API int64_t VANTREL_CALL dtimerRecordEnd(int32_t index) {
    try {
        return timerTable.RecordEnd(index);
    } catch (...) {
        return 0;
    }
}

VANTREL_API int64_t VANTREL_CALL dtimerGetElapsed(int32_t index) {
    try {
        return timerTable.GetElapsed(index);
    } catch (...) {
        return 0;
    }
}

VANTREL_API int32_t VANTREL_CALL dtimerGetCount(int32_t index) {
    try {
        return timerTable.GetCount(index);
    } catch (...) {
        return 0;
    }
}

VANTREL_API int64_t VANTREL_CALL dtimerGetAverageElapsed(int32_t index) {
    try {
        return timerTable.GetAverageElapsed(index);
    } catch (...) {
        return 0;
    }
}

VANTREL_API void VANTREL_CALL dtimerReset(int32_t index) {
    try {
        timerTable.Reset(index);
    } catch (...) {
    }
}

}  // extern "C"
