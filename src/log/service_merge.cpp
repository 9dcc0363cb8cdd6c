// The service's FlushCache: the merge of its thread logs' texts into the service file.
//
// In write-immediately mode the merge runs after every entry. Rewriting every thread's text
// each time would make a log of n entries cost O(n^2) bytes, so the merge from memory
// remembers what it left in the file and rewrites only from the first byte that changed.
// The file ends up byte for byte as a full rewrite would leave it; whenever the file may not
// hold what the last merge left there, the merge rewrites everything.
#include <limits>

#include "log/clog_service.h"
#include "log/cmem.h"
#include "log/html_document.h"
#include "log/log_mode.h"

namespace vantrel {

namespace {
constexpr uint32_t kCopyBufferSize = 65536;
constexpr size_t kRawPiece = 1u << 20;  // 1 MiB
}  // namespace

std::atomic<bool> CLogService::forceFullRewrite{false};

void CLogService::ForceFullRewrite(bool on) {
    forceFullRewrite.store(on);
}

int32_t CLogService::FlushCache(bool bFinal) {
    if (!lock) return 0;
    platform::CriticalSectionGuard guard(*lock);
    if (!isOpen) return 0;
    if (mode & LogModeMergeFromMemory) return MergeFromMemory();
    if (mode & LogModeMergeFromFiles) return MergeFromFiles();
    return FlushEachThreadLog(bFinal);
}

int32_t CLogService::MergeFromMemory() {
    // The thread logs never write or empty their caches here, so each holds its whole text.
    uint64_t total = 0;
    for (CLog* log : threadLogs) {
        if (log) total += static_cast<uint64_t>(log->GetCacheLength());
    }
    if (total == mergedLength) return 1;
    if (!IsFileOpen() && !OpenFile()) return 0;

    size_t first = 0;
    uint64_t skipBytes = 0;
    uint64_t offset = 0;
    const bool incremental = !forceFullRewrite.load(std::memory_order_relaxed) &&
                             FindFirstChange(&first, &skipBytes, &offset);
    // Until this merge completes the file holds neither the old nor the new state.
    mergedTextsValid = false;
    uint64_t from;
    if (incremental) {
        from = writePosition + offset + skipBytes;
    } else {
        // Text written anywhere but at writePosition would land on older text (the HTML
        // head, for one).
        if (!WritePositionOffset(&from)) return 0;
        first = 0;
        skipBytes = 0;
        offset = 0;
    }
    try {
        // A full rewrite can end short of what the file held (another program replaced it,
        // or a failed merge left more); bytes after the summary would pass for log text.
        const uint64_t lengthBefore = fileLengthKnown ? knownFileLength : file.GetLength();

        // The changed texts, the summary and, for HTML, the end of the document: one
        // positioned write.
        mergePieces.clear();
        const uint64_t textBytes = AddThreadTextPieces(first, skipBytes);
        const std::string& summary = SummaryText();
        AddPiece(summary.data(), summary.size());
        if (mode & LogModeHtml) {
            AddPiece(kHtmlEndBlock, sizeof kHtmlEndBlock - 1);
            AddPiece(kHtmlClosingLine, sizeof kHtmlClosingLine - 1);
        }
        uint64_t bytes = 0;
        for (const platform::WritePiece& piece : mergePieces) bytes += piece.size;
        file.WriteAt(from, mergePieces.data(), mergePieces.size());
        mergedLength = offset + skipBytes + textBytes;

        const uint64_t end = from + bytes;
        uint64_t lengthAfter = lengthBefore > end ? lengthBefore : end;
        if (!incremental && lengthAfter > end) {
            file.SetLength(end);
            lengthAfter = end;
        }
        knownFileLength = lengthAfter;
        fileLengthKnown = true;
    } catch (const platform::FileError&) {
        fileLengthKnown = false;
        return 0;
    }
    RememberMerge();
    return 1;
}

bool CLogService::WritePositionOffset(uint64_t* offset) const {
    // Offsets are 32-bit signed in this format, as SeekToWritePosition takes them; a negative
    // one cannot be reached.
    const auto position = static_cast<int32_t>(static_cast<uint32_t>(writePosition));
    if (position < 0) return false;
    *offset = static_cast<uint64_t>(position);
    return true;
}

bool CLogService::FindFirstChange(size_t* first, uint64_t* skipBytes, uint64_t* offset) {
    if (!mergedTextsValid || fileReset || mergedAt != writePosition) return false;
    // Beyond this the seek offsets of this format no longer hold.
    if (writePosition > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return false;
    try {
        // Someone else cut or extended the file since the last merge. The reopening measured
        // it already.
        const uint64_t length = fileLengthKnown ? knownFileLength : file.GetLength();
        if (length != fileLengthAfterMerge) return false;
    } catch (const platform::FileError&) {
        return false;
    }
    uint64_t start = 0;
    for (size_t i = 0; i < threadLogs.size(); ++i) {
        CLog* log = threadLogs[i];
        const uint64_t length = log ? static_cast<uint64_t>(log->GetCacheLength()) : 0;
        *first = i;
        *offset = start;
        if (i >= mergedTexts.size()) {  // a thread log registered since
            *skipBytes = 0;
            return true;
        }
        const MergedText& merged = mergedTexts[i];
        if (merged.log != log || length < merged.bytes) {  // not the text merged last time
            *skipBytes = 0;
            return true;
        }
        if (length != merged.bytes) {  // grew: its merged part is in place already
            *skipBytes = merged.bytes;
            return true;
        }
        start += merged.bytes;
    }
    *first = threadLogs.size();
    *offset = start;
    *skipBytes = 0;
    return true;
}

void CLogService::AddPiece(const char* data, size_t count) {
    // Pieces of at most 1 MiB, as WriteRaw writes them.
    while (count > 0) {
        const size_t piece = count < kRawPiece ? count : kRawPiece;
        mergePieces.push_back(platform::WritePiece{data, static_cast<uint32_t>(piece)});
        data += piece;
        count -= piece;
    }
}

uint64_t CLogService::AddThreadTextPieces(size_t first, uint64_t skipBytes) {
    uint64_t added = 0;
    for (size_t i = first; i < threadLogs.size(); ++i) {
        CLog* log = threadLogs[i];
        if (!log) continue;
        const std::string& text = log->GetCache();
        const size_t from = i == first ? static_cast<size_t>(skipBytes) : 0;
        AddPiece(text.data() + from, text.size() - from);
        added += text.size() - from;
    }
    return added;
}

void CLogService::RememberMerge() {
    mergedTexts.resize(threadLogs.size());
    for (size_t i = 0; i < threadLogs.size(); ++i) {
        CLog* log = threadLogs[i];
        mergedTexts[i].log = log;
        mergedTexts[i].bytes = log ? static_cast<uint64_t>(log->GetCacheLength()) : 0;
    }
    mergedAt = writePosition;
    fileLengthAfterMerge = knownFileLength;
    mergedTextsValid = true;
    fileReset = false;
}

int32_t CLogService::MergeFromFiles() {
    for (CLog* log : threadLogs) {
        if (log) log->FlushCache(false);
    }
    for (CLog* log : threadLogs) {
        if (log && !log->IsFileOpen()) log->OpenFile();
    }
    int64_t total = 0;
    try {
        for (CLog* log : threadLogs) {
            if (!log) continue;
            if (!log->IsFileOpen()) return 0;
            // Part files are limited to 2 GiB; their lengths count as signed 32-bit values.
            total += static_cast<int32_t>(log->GetFileObject().GetLength());
        }
    } catch (const platform::FileError&) {
        return 0;
    }
    if (static_cast<uint64_t>(total) == mergedLength) return 1;

    // Without the file at writePosition nothing is copied; the part files keep the text.
    const bool atWritePosition = (IsFileOpen() || OpenFile()) && SeekToWritePosition();
    int32_t result = 0;
    uint64_t copied = 0;
    for (CLog* log : threadLogs) {
        if (!log || !atWritePosition) continue;
        CMem buffer(kCopyBufferSize);
        void* data = buffer.GetData();
        if (!data) {  // never read into a missing buffer; this log's copy fails
            result = 0;
            continue;
        }
        result = 1;
        try {
            platform::File& part = log->GetFileObject();
            if (static_cast<uint32_t>(part.GetLength()) != 0xFFFFFFFFu) {
                part.Seek(0);
                for (;;) {
                    const uint32_t got = part.Read(data, kCopyBufferSize);
                    if (got == 0) break;
                    WriteRaw(data, got);
                    copied += got;
                }
            }
        } catch (const platform::FileError&) {
            result = 0;
        }
    }
    for (CLog* log : threadLogs) {
        if (log && log->IsFileOpen()) log->CloseFile();
    }
    if (result != 0) {
        mergedLength = copied;
        try {
            WriteSummary();
        } catch (const platform::FileError&) {
            result = 0;
        }
    }
    return result;
}

int32_t CLogService::FlushEachThreadLog(bool bFinal) {
    int32_t result = 0;
    for (CLog* log : threadLogs) {
        if (log) result = log->FlushCache(bFinal);
    }
    return result;
}

}  // namespace vantrel
