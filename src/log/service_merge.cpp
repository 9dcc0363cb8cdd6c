// The service's FlushCache: the merge of its thread logs' texts into the service file.
//
// In write-immediately mode the merge runs after every entry. Rewriting every thread's text
// each time would make a log of n entries cost O(n^2) bytes, so the merge from memory
// remembers what it left in the file and rewrites only from the first byte that changed.
// The file ends up byte for byte as a full rewrite would leave it; whenever the file may not
// hold what the last merge left there, the merge rewrites everything.
#include <cstring>

#include "log/clog_service.h"
#include "log/cmem.h"
#include "log/html_document.h"
#include "log/log_layout.h"
#include "log/log_mode.h"

namespace vantrel {

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
        if (log) total += log->cache.size();
    }
    if (total == mergedLength) return 1;
    if (!file.IsOpen() && !OpenFile()) return 0;  // the lock is held already

    size_t first = 0;
    uint64_t skipBytes = 0;
    uint64_t offset = 0;
    const bool incremental = !fullRewrite && FindFirstChange(&first, &skipBytes, &offset);
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

        // The changed texts, the summary and, for HTML, the end of the document, in one
        // positioned write (two where text moves and the file grows, below).
        mergePieces.clear();
        mergeBytes = 0;
        const uint64_t textBytes = AddThreadTextPieces(first, skipBytes);
        const std::string& summary = SummaryText();
        AddPiece(summary.data(), summary.size());
        if (mode & LogModeHtml) {
            for (std::string_view part : kHtmlDocumentEnd) AddPiece(part.data(), part.size());
        }
        const uint64_t bytes = mergeBytes;
        const uint64_t end = from + bytes;
        // Text of later threads moved behind an earlier thread's entry is written over its
        // old place. Should the disk fill up where the file grows, that would cut it short
        // until the next merge; so the growth goes first, and a failure there leaves the old
        // text where it was.
        const uint64_t ownBytes = first < threadLogs.size() && threadLogs[first]
                                      ? threadLogs[first]->cache.size() - skipBytes
                                      : 0;
        const bool movesText = !incremental || textBytes > ownBytes;
        if (movesText && from < lengthBefore && end > lengthBefore) {
            WriteMergeBytes(lengthBefore - from, bytes, lengthBefore);
            WriteMergeBytes(0, lengthBefore - from, from);
        } else {
            WriteMergeBytes(0, bytes, from);
        }
        mergedLength = offset + skipBytes + textBytes;

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

// The helpers below serve MergeFromMemory alone, which runs after every entry in the default
// mode: inline, so that the compiler folds them into it.
inline bool CLogService::WritePositionOffset(uint64_t* offset) const {
    if (!positioned) return false;
    *offset = writePosition;
    return true;
}

inline bool CLogService::FindFirstChange(size_t* first, uint64_t* skipBytes, uint64_t* offset) {
    if (!mergedTextsValid || fileReset || mergedAt != writePosition) return false;
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
        const uint64_t length = log ? log->cache.size() : 0;
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

void CLogService::AddPieceToVector(const char* data, size_t count) {
    if (mergePieces.empty() && mergeBytes > 0) {
        mergePieces.push_back(platform::WritePiece{mergeBlock, static_cast<uint32_t>(mergeBytes)});
    }
    mergeBytes += count;
    // Pieces of at most 1 MiB, as WriteRaw writes them.
    while (count > 0) {
        const size_t piece = count < kRawPieceSize ? count : kRawPieceSize;
        mergePieces.push_back(platform::WritePiece{data, static_cast<uint32_t>(piece)});
        data += piece;
        count -= piece;
    }
}

inline void CLogService::WriteMergeBytes(uint64_t begin, uint64_t end, uint64_t offset) {
    if (mergePieces.empty()) {
        const platform::WritePiece block{mergeBlock + begin, static_cast<uint32_t>(end - begin)};
        file.WriteAt(offset, &block, 1);
    } else {
        const std::vector<platform::WritePiece> slice =
            platform::SliceOfPieces(mergePieces.data(), mergePieces.size(), begin, end);
        file.WriteAt(offset, slice.data(), slice.size());
    }
}

inline uint64_t CLogService::AddThreadTextPieces(size_t first, uint64_t skipBytes) {
    uint64_t added = 0;
    for (size_t i = first; i < threadLogs.size(); ++i) {
        CLog* log = threadLogs[i];
        if (!log) continue;
        const std::string_view text = log->GetCache();
        const size_t from = i == first ? static_cast<size_t>(skipBytes) : 0;
        AddPiece(text.data() + from, text.size() - from);
        added += text.size() - from;
    }
    return added;
}

inline void CLogService::RememberMerge() {
    mergedTexts.resize(threadLogs.size());
    for (size_t i = 0; i < threadLogs.size(); ++i) {
        CLog* log = threadLogs[i];
        mergedTexts[i].log = log;
        mergedTexts[i].bytes = log ? log->cache.size() : 0;
    }
    mergedAt = writePosition;
    fileLengthAfterMerge = knownFileLength;
    mergedTextsValid = true;
    fileReset = false;
}

int32_t CLogService::MergeFromFiles() {
    // A thread's text is its part file followed by what its cache still holds (all of it when
    // no part file could be made). The part files are taken one at a time and closed again,
    // so the merge needs two descriptors whatever the number of threads.
    // Each thread log is read under its own lock: its thread adds entries without the
    // service's lock.
    uint64_t total = 0;
    for (CLog* log : threadLogs) {
        if (!log) continue;
        platform::CriticalSectionGuard threadGuard(*log->lock);
        log->FlushCache(false);
        if (log->IsFileOpen()) log->CloseFile();
        if (log->IsPositioned()) total += log->GetWritePosition();
        total += static_cast<uint64_t>(log->GetCacheLength());
    }
    if (total == mergedLength) return 1;

    // Without the file at writePosition nothing is copied; the part files keep the text.
    if (!(IsFileOpen() || OpenFile()) || !SeekToWritePosition()) return 0;
    CMem buffer(kCopyBufferSize);
    void* data = buffer.GetData();
    if (!data) return 0;  // never read into a missing buffer
    uint64_t copied = 0;
    try {
        for (CLog* log : threadLogs) {
            if (!log) continue;
            platform::CriticalSectionGuard threadGuard(*log->lock);
            if (log->IsPositioned()) {
                if (!log->IsFileOpen() && !log->OpenFile()) return 0;
                platform::File& part = log->GetFileObject();
                part.Seek(0);
                for (uint32_t got; (got = part.Read(data, kCopyBufferSize)) != 0;) {
                    WriteRaw(data, got);
                    copied += got;
                }
                log->CloseFile();
            }
            const std::string_view rest = log->GetCache();
            WriteRaw(rest.data(), static_cast<uint32_t>(rest.size()));
            copied += rest.size();
        }
        mergedLength = copied;
        WriteSummary();
    } catch (const platform::FileError&) {
        for (CLog* log : threadLogs) {
            if (log && log->IsFileOpen()) log->CloseFile();
        }
        return 0;
    }
    return 1;
}

int32_t CLogService::FlushEachThreadLog(bool bFinal) {
    int32_t result = 0;
    for (CLog* log : threadLogs) {
        if (log) result = log->FlushCache(bFinal);
    }
    return result;
}

}  // namespace vantrel
