// Named mutexes as lock files in the private runtime folder. A process that holds a handle
// holds a shared flock on the name's file; the name "exists" while any such lock is held, so
// it vanishes with its last holder, also when that holder is killed. Opening and creating run
// under one exclusive guard lock, which makes "test, then hold" atomic between processes.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/clock.h"
#include "platform/posix/runtime_dir.h"
#include "platform/test_seam.h"

namespace vantrel::platform {

struct MutexHandleObject {
    int fd;
};

namespace {

constexpr size_t kMaxFileNameLength = 200;

// Escapes the name into one file name; a long name keeps a readable head and a hash of the
// whole, so every name fits the file system's limit.
std::string LockFileName(const std::string& name) {
    std::string escaped;
    for (unsigned char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        if (plain) {
            escaped += static_cast<char>(c);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            escaped += hex;
        }
    }
    if (escaped.size() > kMaxFileNameLength) {
        uint64_t hash = 1469598103934665603ull;  // FNV-1a
        for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
        char tail[24];
        snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
        escaped = escaped.substr(0, kMaxFileNameLength - 17) + tail;
    }
    return "mutex-" + escaped;
}

int OpenNoFollow(const std::string& path, int flags) {
    int fd;
    do {
        fd = open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int LockFile(int fd, int operation) {
    int result;
    do {
        result = flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

// The guard lock is held for microseconds; one held longer belongs to a process that is
// stopped (a debugger) or stuck. The wait is bounded, and after a wait ran out the guard is not
// waited for again for a while, so a claim fails at once (to be retried by a later call)
// instead of waiting once per number it tries.
constexpr int64_t kGuardWaitMs = 500;
constexpr int64_t kGuardFailFastMs = 1000;
std::atomic<int64_t> guardFailFastUntilMs{0};

bool LockGuard(int fd) {
    const int64_t start = MonotonicMilliseconds();
    if (start < guardFailFastUntilMs.load(std::memory_order_relaxed)) {
        return LockFile(fd, LOCK_EX | LOCK_NB) == 0;
    }
    for (;;) {
        if (LockFile(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK) return false;
        const int64_t now = MonotonicMilliseconds();
        if (now - start >= kGuardWaitMs) {
            guardFailFastUntilMs.store(now + kGuardFailFastMs, std::memory_order_relaxed);
            return false;
        }
        struct timespec pause = {0, 1000000L};
        nanosleep(&pause, nullptr);
    }
}

// Holds the folder's guard lock for the life of the object.
class GuardLock {
  public:
    explicit GuardLock(const std::string& folder) {
        fd_ = OpenNoFollow(folder + "/guard", O_RDWR | O_CREAT);
        if (fd_ >= 0 && !LockGuard(fd_)) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~GuardLock() {
        if (fd_ >= 0) close(fd_);
    }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// True when no one holds the file: its exclusive lock is free.
bool IsUnheld(int fd) {
    if (LockFile(fd, LOCK_EX | LOCK_NB) != 0) return false;
    LockFile(fd, LOCK_UN);
    return true;
}

MutexHandle HoldShared(int fd) {
    if (LockFile(fd, LOCK_SH | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    return new MutexHandleObject{fd};
}

}  // namespace

MutexHandle OpenNamedMutex(const std::string& name) {
    if (testing::ShouldFail(testing::Fault::MutexOpen)) return nullptr;
    std::string folder = RuntimeDirectory();
    if (folder.empty()) return nullptr;
    GuardLock guard(folder);
    if (!guard.held()) return nullptr;
    int fd = OpenNoFollow(folder + "/" + LockFileName(name), O_RDWR);
    if (fd < 0) return nullptr;
    if (IsUnheld(fd)) {
        close(fd);
        return nullptr;
    }
    return HoldShared(fd);
}

MutexHandle CreateNamedMutex(const std::string& name, bool* alreadyExisted) {
    *alreadyExisted = false;
    if (testing::ShouldFail(testing::Fault::MutexCreate)) return nullptr;
    std::string folder = RuntimeDirectory();
    if (folder.empty()) return nullptr;
    GuardLock guard(folder);
    if (!guard.held()) return nullptr;
    int fd = OpenNoFollow(folder + "/" + LockFileName(name), O_RDWR | O_CREAT);
    if (fd < 0) return nullptr;
    *alreadyExisted = !IsUnheld(fd);
    return HoldShared(fd);
}

void CloseNamedMutex(MutexHandle handle) {
    if (!handle) return;
    close(handle->fd);
    delete handle;
}

}  // namespace vantrel::platform
