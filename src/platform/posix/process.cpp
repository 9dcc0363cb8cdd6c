// Process and thread identity on POSIX. Thread handles share a small state object per
// thread; a thread-specific key's destructor marks it ended when the thread exits, which is
// what the zero-time-out wait on a Windows thread handle reports.
#include "platform/process.h"

#include <limits.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/posix/process_fork.h"
#include "platform/test_seam.h"

namespace vantrel::platform {

namespace {

struct ThreadState {
    uint32_t threadId = 0;
    std::atomic<bool> ended{false};
};

// The states of running threads that have been asked for a handle. Each thread's entry is
// dropped when the thread exits, and all of them when the library unloads.
class ThreadStates {
  public:
    ThreadStates() { keyCreated_ = pthread_key_create(&key_, &ThreadExited) == 0; }
    ~ThreadStates() {
        if (keyCreated_) pthread_key_delete(key_);
        std::lock_guard<std::mutex> guard(mutex_);
        live_.clear();
    }
    ThreadStates(const ThreadStates&) = delete;
    ThreadStates& operator=(const ThreadStates&) = delete;

    std::shared_ptr<ThreadState> Current() {
        if (!keyCreated_) return nullptr;
        auto* raw = static_cast<ThreadState*>(pthread_getspecific(key_));
        std::lock_guard<std::mutex> guard(mutex_);
        if (raw) return live_[raw];
        auto state = std::make_shared<ThreadState>();
        state->threadId = GetCurrentThreadId();
        if (pthread_setspecific(key_, state.get()) != 0) return nullptr;
        live_[state.get()] = state;
        return state;
    }

    // Held across fork(), so the child never finds it taken by a thread it does not have.
    void LockForFork() { mutex_.lock(); }
    void UnlockAfterFork() { mutex_.unlock(); }

  private:
    static void ThreadExited(void* value);

    pthread_key_t key_{};
    bool keyCreated_ = false;
    std::mutex mutex_;
    std::unordered_map<ThreadState*, std::shared_ptr<ThreadState>> live_;
};

ThreadStates& States() {
    static ThreadStates states;
    return states;
}

void ThreadStates::ThreadExited(void* value) {
    auto* raw = static_cast<ThreadState*>(value);
    ThreadStates& states = States();
    std::lock_guard<std::mutex> guard(states.mutex_);
    auto found = states.live_.find(raw);
    if (found == states.live_.end()) return;
    found->second->ended.store(true, std::memory_order_release);
    states.live_.erase(found);
}

// Pseudo handle values, never real addresses.
ProcessHandle const kCurrentProcess = reinterpret_cast<ProcessHandle>(static_cast<intptr_t>(-1));
ThreadHandle const kCurrentThread = reinterpret_cast<ThreadHandle>(static_cast<intptr_t>(-2));
ModuleHandle const kExeModule = reinterpret_cast<ModuleHandle>(static_cast<intptr_t>(1));

}  // namespace

struct ThreadHandleObject {
    std::shared_ptr<ThreadState> state;
};

ProcessHandle GetCurrentProcess() {
    return kCurrentProcess;
}
ThreadHandle GetCurrentThread() {
    return kCurrentThread;
}
uint32_t GetCurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

namespace {
// The id is cached per thread; a fork gives the child's thread a new id, so the cache is
// keyed by a generation that the fork handler moves on.
std::atomic<uint32_t> forkGeneration{1};
void AfterForkInChild() {
    forkGeneration.fetch_add(1, std::memory_order_relaxed);
}
const bool forkHandlerInstalled = pthread_atfork(nullptr, nullptr, &AfterForkInChild) == 0;
}  // namespace

void ThreadStatesBeforeFork() {
    States().LockForFork();
}

void ThreadStatesAfterForkInParent() {
    States().UnlockAfterFork();
}

void ThreadStatesAfterForkInChild() {
    States().UnlockAfterFork();
}

uint32_t GetCurrentThreadId() {
    static thread_local uint32_t cachedGeneration = 0;
    static thread_local uint32_t cachedId = 0;
    uint32_t generation = forkGeneration.load(std::memory_order_relaxed);
    if (cachedGeneration != generation || !forkHandlerInstalled) {
        cachedId = static_cast<uint32_t>(syscall(SYS_gettid));
        cachedGeneration = generation;
    }
    return cachedId;
}

ModuleHandle GetExeModuleHandle() {
    return kExeModule;
}

bool GetModuleFileName(ModuleHandle module, std::string* path) {
    if (module != kExeModule || testing::ShouldFail(testing::Fault::ModuleFileName)) return false;
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return false;
    path->assign(buffer, static_cast<size_t>(length));
    return true;
}

bool DuplicateThreadHandle(ThreadHandle source, ThreadHandle* out) {
    *out = nullptr;
    if (testing::ShouldFail(testing::Fault::DuplicateHandle) || !source) return false;
    std::shared_ptr<ThreadState> state =
        source == kCurrentThread ? States().Current() : source->state;
    if (!state) return false;
    *out = new ThreadHandleObject{std::move(state)};
    return true;
}

void CloseThreadHandle(ThreadHandle handle) {
    if (handle && handle != kCurrentThread) delete handle;
}

bool IsThreadSignalled(ThreadHandle handle) {
    if (!handle || handle == kCurrentThread) return false;
    return handle->state->ended.load(std::memory_order_acquire);
}

namespace {

// Seconds since the epoch at which the process started: the boot time plus the start
// time in clock ticks from /proc/self/stat.
bool ProcessStartSeconds(time_t* seconds) {
    FILE* stat = fopen("/proc/self/stat", "re");
    if (!stat) return false;
    char line[1024];
    bool haveLine = fgets(line, sizeof line, stat) != nullptr;
    fclose(stat);
    if (!haveLine) return false;
    // The command name in parentheses may hold spaces: fields are counted after its end.
    const char* rest = strrchr(line, ')');
    if (!rest) return false;
    unsigned long long startTicks = 0;
    // Fields 3..21 are skipped; field 22 is the start time.
    if (sscanf(rest + 2,
               "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d "
               "%*d %llu",
               &startTicks) != 1)
        return false;
    FILE* procStat = fopen("/proc/stat", "re");
    if (!procStat) return false;
    unsigned long long bootTime = 0;
    bool found = false;
    while (fgets(line, sizeof line, procStat)) {
        if (sscanf(line, "btime %llu", &bootTime) == 1) {
            found = true;
            break;
        }
    }
    fclose(procStat);
    long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!found || ticksPerSecond <= 0) return false;
    *seconds = static_cast<time_t>(bootTime +
                                   startTicks / static_cast<unsigned long long>(ticksPerSecond));
    return true;
}

}  // namespace

bool GetProcessCreationLocalTime(ProcessHandle process, SystemTime* out) {
    if (process != kCurrentProcess || testing::ShouldFail(testing::Fault::ProcessTimes))
        return false;
    time_t start;
    if (!ProcessStartSeconds(&start)) return false;
    struct tm fields;
    if (!localtime_r(&start, &fields)) return false;
    // The round trip through mktime settles the daylight-saving question the way the C
    // library decides it, as the identity has always been made.
    fields.tm_isdst = -1;
    time_t again = mktime(&fields);
    if (again == static_cast<time_t>(-1) || !localtime_r(&again, &fields)) return false;
    out->year = fields.tm_year + 1900;
    out->month = fields.tm_mon + 1;
    out->dayOfWeek = fields.tm_wday;
    out->day = fields.tm_mday;
    out->hour = fields.tm_hour;
    out->minute = fields.tm_min;
    out->second = fields.tm_sec;
    out->milliseconds = 0;
    return true;
}

}  // namespace vantrel::platform
