/* Logs one entry and reads a timer: the smallest useful use of the C interface. */
#include <stdio.h>
#include <vantrel/vantrel.h>

int main(void) {
    int ok;
    logFuncBeginMgr_device_fname("consumer.log", 0, "main");
    dtimerRecordBegin(20, 1);
    ok = logPrintfMgr_deviceDefault_fname("consumer.log", "%d items in frame %s\n", 12, "intro");
    dtimerRecordEnd(20);
    logFuncEndMgr_device_fname("consumer.log", 0);
    printf("logged %d, timer count %d\n", ok, dtimerGetCount(20));
    return ok && dtimerGetCount(20) == 1 ? 0 : 1;
}
