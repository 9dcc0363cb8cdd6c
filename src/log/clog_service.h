// CLogService: serves one log file name for the whole process. Each calling thread gets a
// CLog of its own; the service merges their texts into its file, followed by a summary.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log/log_mode.h"
#include "platform/clock.h"

namespace vantrel {

class CLogService : public CLog {
  public:
    CLogService();
    ~CLogService() override;  // frees the registry storage only; Close destroys the logs

    int32_t Printf(int32_t device, const char* format, va_list args) override;
    int32_t DrawBitmap(int32_t device, const char* imageName, void* bitmap, const char* format,
                       va_list args) override;
    int32_t FlushCache(bool bFinal) override;  // the merge
    int32_t Close() override;
    int32_t FuncBegin(int32_t device, const char* funcName) override;
    int32_t FuncEnd(int32_t device) override;
    int32_t WriteSummary() override;
    bool IsCacheFull() override;
    bool IsCacheEmpty() override;

    // Configuration and first opening: checks the name, reads the settings of its log key,
    // computes the mode (when mode is LogModeFromSettings), opens the log and records the
    // folder. Nonzero when the service is ready.
    virtual int32_t Init(const std::string& processKeyName, int32_t instanceNumber, uint16_t atom,
                         uint32_t processId, platform::ThreadHandle threadHandle,
                         uint32_t initThreadId, uint32_t mode, const char* folder,
                         const char* fileName);
    // Brings the file up to date, leaving it open or closed as it was.
    virtual void Commit();
    // In a forked child: drops the thread logs and every descriptor (closed only, never
    // unlocked: the lock belongs to the parent's open file) and the name's atom, writing,
    // emptying and deleting nothing. The service is then only fit to be destroyed.
    void Abandon();

    CLog* GetThreadLog();
    // GetThreadLog for the calling thread, answered without the service's lock when this
    // thread has asked this service before.
    CLog* CallingThreadLog();
    CLog* FindThreadLog(uint32_t threadId, int32_t* index);
    CLog* CreateThreadLog(platform::ThreadHandle hThread, uint32_t threadId);

    uint16_t GetAtom() const { return atom; }

    // For the bound on open log files: when this service's file was last written to (on
    // the monotonic clock), and closing the file when no call is in the service now.
    int64_t LastUsedAt() const { return lastUsedAt.load(std::memory_order_relaxed); }
    bool ReleaseKeptFile();

    // Every merge from memory of this service rewrites all thread texts instead of only
    // what changed (the reference the incremental merge is measured and checked against).
    void UseFullRewrite(bool on) { fullRewrite = on; }

  protected:
    // Tells this service apart from every other of the process, also from one created later
    // at the same address; Close gives it a new one (the threads' memory of their logs is
    // keyed by it).
    uint64_t serial;
    uint16_t atom = 0;
    std::vector<CLog*> threadLogs;
    uint64_t mergedLength = 0;

  private:
    // Whether each entry is made under the service's lock: a merge follows it.
    bool EntriesUnderServiceLock() const {
        return (mode & LogModeWriteImmediately) &&
               (mode & (LogModeMergeFromMemory | LogModeMergeFromFiles));
    }
    // Calls one entry operation on the calling thread's log, then brings the file up to
    // date in write-immediately mode.
    template <typename Operation>
    int32_t Forward(Operation operation);

    // After each entry where files stay open between calls: makes sure the open file is
    // still the one at its path (now and then), reopens it when needed, and merges.
    int32_t MergeIntoKeptFile();
    int32_t MergeFromMemory();
    int32_t MergeFromFiles();
    int32_t FlushEachThreadLog(bool bFinal);
    // Adds the thread texts from entry `first` on (skipping `skipBytes` of its text) to what
    // the merge writes; returns their bytes.
    uint64_t AddThreadTextPieces(size_t first, uint64_t skipBytes);
    // Adds count bytes to what the merge writes (mergeBlock, then mergePieces).
    void AddPiece(const char* data, size_t count) {
        // A merge that fits in mergeBlock (an entry and the summary after it) is copied there
        // and goes in a write of one buffer, which costs the system less than a vector of
        // pieces.
        if (mergePieces.empty() && mergeBytes + count <= sizeof mergeBlock) {
            std::memcpy(mergeBlock + mergeBytes, data, count);
            mergeBytes += count;
            return;
        }
        AddPieceToVector(data, count);
    }
    void AddPieceToVector(const char* data, size_t count);
    // Writes the bytes [begin, end) of what AddPiece gathered at offset.
    void WriteMergeBytes(uint64_t begin, uint64_t end, uint64_t offset);
    // writePosition as the offset a merge writes at; false when it cannot be reached.
    bool WritePositionOffset(uint64_t* offset) const;
    // The summary block with the local time now; the lines before the time are formatted
    // again only when what they show changes.
    const std::string& SummaryText();
    // Where the incremental merge must start, or false when only a full rewrite is safe.
    bool FindFirstChange(size_t* first, uint64_t* skipBytes, uint64_t* offset);
    void RememberMerge();

    // What the last merge from memory left in the file, so that the next one rewrites only
    // what changed. Entry i describes threadLogs[i] (null entries wrote 0 bytes).
    struct MergedText {
        const CLog* log = nullptr;
        uint64_t bytes = 0;
    };
    std::vector<MergedText> mergedTexts;
    uint64_t mergedAt = 0;  // writePosition of the last merge
    uint64_t fileLengthAfterMerge = 0;
    bool mergedTextsValid = false;  // false: the next merge rewrites everything
    // What a merge writes: the first bytes gathered in mergeBlock, then, when they did not
    // fit there, mergePieces (which start with the block); mergeBytes in all.
    std::vector<platform::WritePiece> mergePieces;  // kept to spare an allocation per merge
    uint64_t mergeBytes = 0;

    std::string summaryText;
    size_t summaryTimeAt = 0;     // where the time line starts in summaryText
    int64_t summaryThreads = -1;  // the thread count summaryText shows; -1: none yet
    // The time summaryText shows; within its second only the milliseconds are written anew.
    platform::SystemTime summaryTime;
    size_t summaryMillisecondsAt = 0;  // 0: the time line is to be formatted whole

    int64_t pathCheckedAt = 0;  // when the open file was last found at its path
    std::atomic<int64_t> lastUsedAt{0};
    bool keptOpen = false;  // counted among the open log files
    bool fullRewrite = false;
    // Last, so that the fields a merge reads lie together.
    char mergeBlock[4096];
};

}  // namespace vantrel
