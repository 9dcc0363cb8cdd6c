#include "log/open_log_files.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "log/clog_service.h"

namespace vantrel {

namespace {

// Lock order: a service's lock, then this mutex; services are only ever tried from here, so
// an eviction never waits for a service in a call.
std::mutex keptMutex;
std::vector<CLogService*> keptServices;

}  // namespace

void KeepLogFileOpen(CLogService& service) {
    std::lock_guard<std::mutex> hold(keptMutex);
    if (std::find(keptServices.begin(), keptServices.end(), &service) == keptServices.end())
        keptServices.push_back(&service);
    while (keptServices.size() > kMostOpenLogFiles) {
        // Least recently used first; one that is busy now is used now, so the next is tried.
        std::vector<CLogService*> candidates;
        for (CLogService* kept : keptServices) {
            if (kept != &service) candidates.push_back(kept);
        }
        std::sort(candidates.begin(), candidates.end(),
                  [](CLogService* a, CLogService* b) { return a->LastUsedAt() < b->LastUsedAt(); });
        auto released = std::find_if(candidates.begin(), candidates.end(),
                                     [](CLogService* kept) { return kept->ReleaseKeptFile(); });
        if (released == candidates.end()) return;  // all busy: over the bound until next time
        keptServices.erase(std::find(keptServices.begin(), keptServices.end(), *released));
    }
}

void ForgetOpenLogFile(CLogService& service) {
    std::lock_guard<std::mutex> hold(keptMutex);
    keptServices.erase(std::remove(keptServices.begin(), keptServices.end(), &service),
                       keptServices.end());
}

}  // namespace vantrel
