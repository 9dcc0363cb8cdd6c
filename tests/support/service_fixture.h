// Log services driven in-process: the printf-style calls through CLog's va_list entry points,
// a service set up as the manager sets one up, and a thread that stays alive between tasks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "log/clog_service.h"
#include "log/log_mode.h"

namespace vantrel::test {

// The instance path the services of these tests belong to.
constexpr char kInstancePath[] = "/tmp/x/host\\proc1";

int32_t Log(CLog& log, const char* format, ...);
// A bitmap of nullptr makes an empty image file.
int32_t Picture(CLog& log, const char* imageName, const void* bitmap, const char* format, ...);

// Init as the manager calls it, on the calling thread, which is the loading thread unless
// another id is given; the folder carries its trailing separator.
int32_t InitService(CLogService& service, const std::string& folder, const char* logName,
                    uint32_t mode = LogModeFromSettings, uint16_t atom = 0,
                    uint32_t loadingThreadId = 0);

// Runs one task at a time on request, so a test can alternate between threads that live on.
class Worker {
  public:
    Worker() : thread_([this] { Loop(); }) {}
    ~Worker() {
        Run(nullptr);  // an empty task ends the thread
        thread_.join();
    }
    // Returns when the task has run.
    void Run(std::function<void()> task) {
        std::unique_lock<std::mutex> hold(mutex_);
        task_ = std::move(task);
        pending_ = true;
        changed_.notify_all();
        changed_.wait(hold, [this] { return !pending_; });
    }

  private:
    void Loop() {
        std::unique_lock<std::mutex> hold(mutex_);
        for (bool more = true; more;) {
            changed_.wait(hold, [this] { return pending_; });
            more = static_cast<bool>(task_);
            hold.unlock();
            if (more) task_();
            hold.lock();
            pending_ = false;
            changed_.notify_all();
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> task_;
    bool pending_ = false;
    std::thread thread_;
};

}  // namespace vantrel::test
