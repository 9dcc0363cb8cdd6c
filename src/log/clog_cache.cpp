// The cache side of CLog: the accessors, the fill check that ends every append, and the flush
// that writes the cache at writePosition.
#include "log/clog.h"
#include "log/log_layout.h"
#include "log/log_mode.h"

namespace vantrel {

using platform::CriticalSectionGuard;
using platform::FileError;

int32_t CLog::GetCacheLength() {
    return static_cast<int32_t>(cache.size());
}

bool CLog::IsCacheFull() {
    return GetCacheLength() > cacheSize;
}

bool CLog::IsCacheEmpty() {
    return cache.empty();
}

bool CLog::IsFileOpen() {
    if (!lock) return file.IsOpen();
    CriticalSectionGuard guard(*lock);
    return file.IsOpen();
}

int32_t CLog::SeekToWritePosition() {
    if (!positioned) return 0;
    try {
        file.Seek(writePosition);
        return 1;
    } catch (const FileError&) {
        return 0;
    }
}

void CLog::WriteRaw(const void* data, uint32_t count) {
    fileLengthKnown = false;
    const char* at = static_cast<const char*>(data);
    while (count > kRawPieceSize) {
        file.Write(at, kRawPieceSize);
        at += kRawPieceSize;
        count -= kRawPieceSize;
    }
    if (count > 0) file.Write(at, count);
}

int32_t CLog::FillCheck(bool isImage) {
    const uint32_t quiet = isImage ? LogModeNoFileOutput : (LogModeNoFileOutput | LogModeNoSummary);
    if (mode & quiet) return 1;
    if (!IsCacheFull()) return 1;
    int32_t result = FlushCache(false);
    // A part file is closed again too, so that idle threads hold no descriptors.
    if ((mode & (LogModeWriteImmediately | LogModeDeleteOnClose)) && IsFileOpen()) CloseFile();
    return result;
}

int32_t CLog::FlushCache(bool bFinal) {
    if (!lock) return 0;
    CriticalSectionGuard guard(*lock);
    if (cache.empty() && !bFinal) return 1;
    if (mode & LogModeNoFileOutput) return 1;
    if (!IsFileOpen() && !OpenFile()) return 0;
    // Text written anywhere but at writePosition would land in the middle of older text.
    if (!SeekToWritePosition()) return 0;

    // Whatever a failed write left behind writePosition is cut off again: partial text in
    // front of an older summary and end block would pass for a complete log.
    auto dropTail = [this] {
        try {
            if (file.GetLength() > writePosition) file.SetLength(writePosition);
        } catch (const FileError&) {
            // The next flush writes over it from writePosition anyway.
        }
    };
    try {
        WriteRaw(cache.data(), static_cast<uint32_t>(cache.size()));
    } catch (const FileError&) {
        dropTail();
        return 0;
    }
    writePosition += cache.size();
    cache.clear();
    if (bFinal && !(mode & LogModeNoSummary)) {
        // The summary stands behind writePosition, so the next flush writes over it.
        try {
            WriteSummary();
        } catch (const FileError&) {
            dropTail();
            return 0;
        }
    }
    return 1;
}

int32_t CLog::CloseFile() {
    if (!lock) return 0;
    CriticalSectionGuard guard(*lock);
    int32_t result = FlushCache(false);
    try {
        file.Close();
    } catch (const FileError&) {
        result = 0;
    }
    return result;
}

}  // namespace vantrel
