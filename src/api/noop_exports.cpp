// Entry points kept so that hosts built against older headers still link and run: they
// accept anything, touch nothing and report success.
#include "vantrel/vantrel.h"

extern "C" {

int32_t logPrintfMgr(const char*, ...) {
    return 1;
}
int32_t logPrintfMgr_Default(const char*, ...) {
    return 1;
}
int32_t logPrintfMgr_level(const char*, ...) {
    return 1;
}
int32_t logPrintfMgr_level_Default(const char*, ...) {
    return 1;
}
int32_t logDrawBitmapMgr(const char*, ...) {
    return 1;
}
int32_t logDrawBitmapMgr_Default(const char*, ...) {
    return 1;
}
int32_t logDrawBitmapMgr_level_Default(const char*, ...) {
    return 1;
}
int32_t logFuncBeginMgr(const char*, ...) {
    return 1;
}
int32_t logFuncEndMgr(const char*, ...) {
    return 1;
}

}  // extern "C"
