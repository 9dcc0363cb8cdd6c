// Entry points kept so that hosts built against older headers still link and run: they
// accept anything, touch nothing and report success.
#include "vantrel/vantrel.h"

extern "C" {

VANTREL_API int32_t VANTREL_CALL logPrintfMgr(const char*, ...) {
    return 1;
}
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_Default(const char*, ...) {
    return 1;
}
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_level(const char*, ...) {
    return 1;
}
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_level_Default(const char*, ...) {
    return 1;
}
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr(const char*, ...) {
    return 1;
}
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_Default(const char*, ...) {
    return 1;
}
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_level_Default(const char*, ...) {
    return 1;
}
VANTREL_API int32_t VANTREL_CALL logFuncBeginMgr(const char*, ...) {
    return 1;
}
VANTREL_API int32_t VANTREL_CALL logFuncEndMgr(const char*, ...) {
    return 1;
}

}  // extern "C"
