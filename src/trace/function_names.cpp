#include "trace/function_names.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <pthread.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

namespace vantrel::trace {

namespace {

// Function -> name, shared by all threads. Created on first use and never destroyed, because
// hooks may still fire during static destruction.
pthread_mutex_t namesLock = PTHREAD_MUTEX_INITIALIZER;
std::unordered_map<void*, const char*>* knownNames = nullptr;

VANTREL_TRACE_NO_INSTRUMENT const char* FindKnownName(void* function) {
    pthread_mutex_lock(&namesLock);
    const char* name = nullptr;
    if (knownNames) {
        auto found = knownNames->find(function);
        if (found != knownNames->end()) name = found->second;
    }
    pthread_mutex_unlock(&namesLock);
    return name;
}

// Keeps `name` unless another thread got there first; returns the name kept.
VANTREL_TRACE_NO_INSTRUMENT const char* KeepName(void* function, char* name) {
    pthread_mutex_lock(&namesLock);
    const char* kept = name;
    try {
        if (!knownNames) knownNames = new std::unordered_map<void*, const char*>();
        auto inserted = knownNames->emplace(function, name);
        kept = inserted.first->second;
    } catch (...) {
        // Out of memory: the name is used this once and worked out again next time.
        pthread_mutex_unlock(&namesLock);
        return name;
    }
    pthread_mutex_unlock(&namesLock);
    if (kept != name) free(name);
    return kept;
}

VANTREL_TRACE_NO_INSTRUMENT const char* BaseName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

VANTREL_TRACE_NO_INSTRUMENT char* Printed(const char* format, uintptr_t address, const char* file) {
    char text[512];
    snprintf(text, sizeof text, format, address, file);
    return strdup(text);
}

// A malloc'ed name for the function.
VANTREL_TRACE_NO_INSTRUMENT char* WorkOutName(void* function) {
    Dl_info info{};
    link_map* module = nullptr;
    if (!dladdr1(function, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP)) {
        return Printed("0x%" PRIxPTR "%s", reinterpret_cast<uintptr_t>(function), "");
    }
    // dladdr gives the nearest symbol below the address, which belongs to another function
    // when this one is not in the dynamic symbol table: only an exact start is its name.
    if (info.dli_sname && info.dli_saddr == function) {
        int status = -1;
        char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
        if (status == 0 && demangled) return demangled;
        free(demangled);
        return strdup(info.dli_sname);
    }
    // The link-time address, which addr2line takes for programs and shared libraries alike.
    uintptr_t address = reinterpret_cast<uintptr_t>(function);
    if (module) address -= module->l_addr;
    const char* file = info.dli_fname && *info.dli_fname ? BaseName(info.dli_fname)
                                                         : program_invocation_short_name;
    return Printed("0x%" PRIxPTR " in %s", address, file);
}

VANTREL_TRACE_NO_INSTRUMENT void LockNames() {
    pthread_mutex_lock(&namesLock);
}

VANTREL_TRACE_NO_INSTRUMENT void UnlockNames() {
    pthread_mutex_unlock(&namesLock);
}

}  // namespace

void KeepFunctionNamesUsableAfterFork() {
    pthread_atfork(LockNames, UnlockNames, UnlockNames);
}

const char* FunctionName(void* function) noexcept {
    if (const char* known = FindKnownName(function)) return known;
    char* name = WorkOutName(function);
    if (!name) return "?";
    return KeepName(function, name);
}

}  // namespace vantrel::trace
