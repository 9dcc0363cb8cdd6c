#include "trace/trace_log_name.h"

#include <cstdlib>
#include <cstring>

#include "vantrel/vantrel.h"

namespace vantrel::trace {

namespace {

constexpr char kDefaultName[] = "trace.log";
constexpr size_t kMaxNameLength = 255;  // an atom's and a registry key name's limit

char chosenName[kMaxNameLength + 1] = "trace.log";

VANTREL_TRACE_NO_INSTRUMENT bool IsUsableLogName(const char* name) {
    size_t length = strlen(name);
    if (length == 0 || length > kMaxNameLength || !strchr(name, '.')) return false;
    for (const char* c = name; *c; ++c) {
        bool allowed = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') ||
                       (*c >= '0' && *c <= '9') || *c == '_' || *c == '.';
        if (!allowed) return false;
    }
    return true;
}

}  // namespace

void ChooseTraceLogName() {
    const char* wanted = getenv("VANTREL_TRACE_LOG");
    if (!wanted || !*wanted) return;
    if (IsUsableLogName(wanted)) {
        memcpy(chosenName, wanted, strlen(wanted) + 1);
        return;
    }
    logPrintfMgr_deviceDefault_fname(kDefaultName,
                                     "VANTREL_TRACE_LOG=\"%.300s\" is not a usable log name "
                                     "(letters, digits, \"_\" and \".\", with a \".\"); "
                                     "tracing to %s\n",
                                     wanted, kDefaultName);
}

const char* TraceLogName() {
    return chosenName;
}

}  // namespace vantrel::trace
