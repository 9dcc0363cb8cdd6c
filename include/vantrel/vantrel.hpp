// C++ helpers over the C exports of vantrel.h (C++17, header-only).
//
//   void Scene::Render() {
//       VANTREL_FUNC("trace.log");           // "Render" (__func__) begins now, ends on every exit
//       VANTREL_TIMER(19);                   // times this scope on timer 19
//       VANTREL_PRINTF("trace.log", "%d items\n", count);
//   }
//
// Define VANTREL_DISABLE before including this header (or on the command line) to compile
// every macro below to nothing, for release builds.
#ifndef VANTREL_VANTREL_HPP
#define VANTREL_VANTREL_HPP

#include "vantrel/vantrel.h"

namespace vantrel {

// Writes the function-begin entry on construction and the function-end entry on every exit
// of its scope: normal return, early return or exception.
class FunctionScope {
  public:
    FunctionScope(const char* fileName, const char* functionName) noexcept : fileName_(fileName) {
        logFuncBeginMgr_device_fname(fileName_, 0, functionName);
    }
    ~FunctionScope() { logFuncEndMgr_device_fname(fileName_, 0); }
    FunctionScope(const FunctionScope&) = delete;
    FunctionScope& operator=(const FunctionScope&) = delete;

  private:
    const char* fileName_;
};

// Measures its scope on one stopwatch timer, counting the measurement.
class TimerScope {
  public:
    explicit TimerScope(int index, bool countIt = true) noexcept : index_(index) {
        dtimerRecordBegin(index_, countIt ? 1 : 0);
    }
    ~TimerScope() { dtimerRecordEnd(index_); }
    TimerScope(const TimerScope&) = delete;
    TimerScope& operator=(const TimerScope&) = delete;

  private:
    int index_;
};

}  // namespace vantrel

#define VANTREL_CONCAT_INNER(a, b) a##b
#define VANTREL_CONCAT(a, b) VANTREL_CONCAT_INNER(a, b)

#if defined(VANTREL_DISABLE)
#define VANTREL_FUNC(fileName) static_cast<void>(0)
#define VANTREL_FUNC_NAMED(fileName, functionName) static_cast<void>(0)
#define VANTREL_TIMER(index) static_cast<void>(0)
#define VANTREL_PRINTF(fileName, ...) static_cast<void>(0)
#else
#if defined(_MSC_VER)
#define VANTREL_FUNCTION_NAME __FUNCTION__
#else
#define VANTREL_FUNCTION_NAME __func__
#endif
#define VANTREL_FUNC(fileName)                                                 \
    ::vantrel::FunctionScope VANTREL_CONCAT(vantrelScope_, __LINE__)(fileName, \
                                                                     VANTREL_FUNCTION_NAME)
#define VANTREL_FUNC_NAMED(fileName, functionName) \
    ::vantrel::FunctionScope VANTREL_CONCAT(vantrelScope_, __LINE__)(fileName, functionName)
#define VANTREL_TIMER(index) ::vantrel::TimerScope VANTREL_CONCAT(vantrelTimer_, __LINE__)(index)
#define VANTREL_PRINTF(fileName, ...) logPrintfMgr_deviceDefault_fname(fileName, __VA_ARGS__)
#endif

#endif  // VANTREL_VANTREL_HPP
