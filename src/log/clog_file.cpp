// The file side of CLog: where the log lives, its folders, the first opening of its file in a
// run (back-up, continue or empty an earlier file; the HTML head) and the end of its life.
#include <vector>

#include "log/clog.h"
#include "log/cmem.h"
#include "log/html_document.h"
#include "log/log_layout.h"
#include "log/log_mode.h"
#include "log/part_files.h"
#include "platform/ascii_case.h"
#include "platform/platform_config.h"
#include "platform/process.h"

namespace vantrel {

using platform::CriticalSectionGuard;
using platform::File;
using platform::FileError;
using platform::FileOpenMode;
using platform::GetPathKind;
using platform::kPathSeparator;
using platform::PathKind;

namespace {

constexpr char kHtmlSuffix[] = ".htm";
constexpr char kBackUpSuffix[] = ".bak";
// Files from an earlier run at or above this size are neither continued nor backed up; it
// also keeps every first position below kNotPositioned.
constexpr uint64_t kEarlierFileLimit = 0xFFFFFFFFull;
constexpr size_t kEndBlockLength = sizeof(kHtmlEndBlock) - 1;
// How much of the file FindEndBlock reads per step while searching backwards.
constexpr size_t kSearchWindow = 65536;

// Where the part of a path that is never created ends: "/" on POSIX, "C:\" or
// "\\server\share\" on Windows; 0 for a relative path.
size_t RootLength(const std::string& path) {
    if (path.empty()) return 0;
    if (kPathSeparator == '\\') {
        if (path.size() >= 3 && path[1] == ':' && path[2] == kPathSeparator) return 3;
        if (path.size() >= 2 && path[0] == kPathSeparator && path[1] == kPathSeparator) {
            // Past the server and the share name.
            size_t at = path.find(kPathSeparator, 2);
            if (at != std::string::npos) at = path.find(kPathSeparator, at + 1);
            return at == std::string::npos ? path.size() : at + 1;
        }
    }
    return path[0] == kPathSeparator ? 1 : 0;
}

// The folder path as the file system names it: without its final separator, except for a
// bare root, which would otherwise become the empty path.
std::string WithoutFinalSeparator(const std::string& folder) {
    if (folder.size() <= RootLength(folder) || folder.back() != kPathSeparator) return folder;
    return folder.substr(0, folder.size() - 1);
}

std::string NamePart(const std::string& path) {
    size_t at = path.rfind(kPathSeparator);
    return at == std::string::npos ? path : path.substr(at + 1);
}

// Reads until count bytes are in or the file ends; returns how many came.
size_t ReadFully(File& file, char* buffer, size_t count) {
    size_t got = 0;
    while (got < count) {
        uint32_t n = file.Read(buffer + got, static_cast<uint32_t>(count - got));
        if (n == 0) break;
        got += n;
    }
    return got;
}

// A folder (given with its final separator) that exists or could be created.
bool EnsureFolder(const std::string& folderWithSeparator,
                  int32_t (*createFolderPath)(const std::string&)) {
    switch (GetPathKind(WithoutFinalSeparator(folderWithSeparator))) {
        case PathKind::Directory:
            return true;
        case PathKind::File:
            return false;
        case PathKind::None:
            break;
    }
    return createFolderPath(folderWithSeparator) != 0;
}

// Writes the HTML head (titled with the name part of the path) and the begin block at the
// start of a just-emptied file when the frame applies; returns where the log's text starts.
uint64_t StartText(File& file, const std::string& path, bool frame) {
    if (!frame) return 0;
    std::string head = kHtmlHead;
    const size_t titleAt = head.find("%s");
    head.replace(titleAt, 2, NamePart(path));
    head += kHtmlBeginBlock;
    file.Seek(0);
    file.Write(head.data(), static_cast<uint32_t>(head.size()));
    return head.size();
}

// Gives up a file that the log has just emptied: a partial head must not be mistaken for a
// log later, so the file is emptied again as far as that is possible.
void AbandonEmptiedFile(File& file) {
    try {
        file.SetLength(0);
    } catch (const FileError&) {
        // Nothing more can be done; the next first opening backs it up like any old file.
    }
    file.Abort();
}

// Cuts the back-up file back to the length it had before this run's copy began, so a failed
// copy leaves neither a partial tail nor a duplicate of the log in it.
// earlierLength < 0: the copy had not begun, and nothing was changed.
void RestoreBackUp(File& backUp, const std::string& backUpPath, int64_t earlierLength,
                   bool createdNow) {
    backUp.Abort();
    if (createdNow) {
        platform::DeleteFile(backUpPath);
        return;
    }
    if (earlierLength < 0) return;
    File again;
    if (!again.Open(backUpPath, FileOpenMode::ExistingWrite)) return;
    try {
        again.SetLength(static_cast<uint64_t>(earlierLength));
        again.Close();
    } catch (const FileError&) {
        again.Abort();
    }
}

// Appends the whole content of the log at path to path + ".bak" and deletes the log. False
// when anything fails; the log and the earlier back-up content are then as they were.
bool BackUpEarlierLog(const std::string& path) {
    const std::string backUpPath = path + kBackUpSuffix;
    const bool createdNow = GetPathKind(backUpPath) == PathKind::None;
    File backUp;
    if (!backUp.Open(backUpPath, createdNow ? FileOpenMode::CreateOrEmptyReadWrite
                                            : FileOpenMode::ExistingWrite))
        return false;

    int64_t earlierLength = -1;
    File earlier;
    CMem buffer(kCopyBufferSize);
    try {
        // An unreadable log is left alone: opening it in place without knowing where its text
        // ends would write over it.
        if (!earlier.Open(path, FileOpenMode::ExistingRead) || !buffer.GetData())
            throw FileError("the earlier log cannot be read");
        backUp.SeekToEnd();
        const uint64_t backUpLength = backUp.GetLength();
        if (backUpLength >= kEarlierFileLimit || earlier.GetLength() >= kEarlierFileLimit)
            throw FileError("the earlier log or its back-up is too large");
        earlierLength = static_cast<int64_t>(backUpLength);
        char* block = static_cast<char*>(buffer.GetData());
        for (uint32_t n; (n = earlier.Read(block, kCopyBufferSize)) != 0;) backUp.Write(block, n);
        backUp.Close();
    } catch (const FileError&) {
        RestoreBackUp(backUp, backUpPath, earlierLength, createdNow);
        return false;
    }
    earlier.Abort();  // only read from; nothing of it needs reporting
    if (!platform::DeleteFile(path)) {
        RestoreBackUp(backUp, backUpPath, earlierLength, createdNow);
        return false;
    }
    return true;
}

}  // namespace

CLog::CLog() {}

CLog::~CLog() {
    // A log destroyed without Close still owns its thread handle.
    if (threadHandle) platform::CloseThreadHandle(threadHandle);
}

int32_t CLog::Open(uint32_t processIdArg, platform::ThreadHandle threadHandleArg,
                   uint32_t threadIdArg, uint32_t modeArg, const char* folderArg,
                   const char* fileNameArg, int32_t cacheSizeArg, int32_t indentSizeArg) {
    if (!lock) lock = std::make_unique<platform::CriticalSection>();
    CriticalSectionGuard guard(*lock);

    if (threadHandle && threadHandle != threadHandleArg) platform::CloseThreadHandle(threadHandle);
    file.Abort();
    processId = processIdArg;
    threadHandle = threadHandleArg;
    threadId = threadIdArg;
    mode = modeArg;
    cacheSize = cacheSizeArg;
    indentSize = indentSizeArg;
    indentLevel = 0;
    prevLastChar = 0;
    lastChar = 0;
    bitmapCount = 0;
    cache.clear();
    writePosition = kNotPositioned;
    positioned = false;
    fileReset = true;
    filePath.clear();
    fileLengthKnown = false;
    part_files::Delete(partFile);  // a reopened log starts a new part file

    if (!SetFolder(folderArg)) return 0;
    // Folders that cannot be made now are met again, and reported, by OpenFile.
    if (EnsureFolder(folder, &CreateFolderPath))
        EnsureFolder(folder + kImageFolderName + kPathSeparator, &CreateFolderPath);
    BuildFileName(fileNameArg && *fileNameArg ? fileNameArg : kDefaultLogFileName);
    isOpen = 1;
    return 1;
}

int32_t CLog::SetFolder(const char* folderPath) {
    if (!folderPath || !*folderPath) {
        folder.clear();
        return 0;
    }
    folder = folderPath;
    if (folder.back() != kPathSeparator) folder += kPathSeparator;
    return 1;
}

int32_t CLog::BuildFileName(const char* name) {
    fileName = name ? name : kDefaultLogFileName;
    if (mode & LogModeHtml) fileName += kHtmlSuffix;
    return 1;
}

int32_t CLog::CreateFolderPath(const std::string& folderPath) {
    const size_t root = RootLength(folderPath);
    for (size_t at = folderPath.find(kPathSeparator, root); at != std::string::npos;
         at = folderPath.find(kPathSeparator, at + 1)) {
        if (at == 0 || folderPath[at - 1] == kPathSeparator) continue;  // "//" names no folder
        const std::string prefix = folderPath.substr(0, at);
        switch (GetPathKind(prefix)) {
            case PathKind::Directory:
                break;
            case PathKind::File:
                return 0;
            case PathKind::None:
                // Another process of the same program may create it at the same moment.
                if (!platform::CreateDirectory(prefix) &&
                    GetPathKind(prefix) != PathKind::Directory)
                    return 0;
                break;
        }
    }
    return 1;
}

int32_t CLog::OpenFile() {
    if (!lock) return 0;
    CriticalSectionGuard guard(*lock);
    if (!isOpen || folder.empty()) return 0;
    if (file.IsOpen()) return 1;
    // A reopening: that the opening works shows the folder and the file still there, so the
    // path checks are left to the case where something on the path has gone.
    fileLengthKnown = false;
    if (positioned && !filePath.empty()) {
        bool missing = false;
        if (partFile ? part_files::Reopen(partFile, file, &knownFileLength, &missing)
                     : file.OpenForWritesAt(filePath, &knownFileLength, &missing)) {
            if (partFile) FollowPartFile();
            fileLengthKnown = true;
            return 1;
        }
        if (!missing) return 0;
    }
    if (!EnsureFolder(folder, &CreateFolderPath)) return 0;
    if (!EnsureFolder(folder + kImageFolderName + kPathSeparator, &CreateFolderPath)) return 0;
    return OpenLogFile(folder + fileName);
}

int32_t CLog::OpenLogFile(const std::string& pathArg) {
    // A part file never empties or takes over a file it did not create: an earlier run's file
    // or another log's file of the same name stays as it is.
    if ((mode & LogModeDeleteOnClose) && !partFile) return CreatePartFile();
    if (mode & LogModeDeleteOnClose) {
        // Its own file vanished while the log ran: made again, empty, if the name is still free.
        if (!part_files::Recreate(partFile, file)) return 0;
        fileReset = true;
        return 1;
    }
    std::string path = pathArg;
    if (!positioned && GetPathKind(path) == PathKind::None) {
        // An earlier run's file whose name differs only in letter case is this log's file, as
        // it is on Windows: it is backed up or continued under its own name.
        const std::string earlier = platform::FindNameIgnoringCase(folder, fileName);
        if (!earlier.empty()) path = folder + earlier;
    }
    // A part file of this process lying at the path steps aside rather than being taken over.
    if (!part_files::MoveAside(path)) return 0;
    filePath = path;
    const PathKind kind = GetPathKind(path);
    const bool frame = (mode & LogModeHtml) && !(mode & (LogModeNoFileOutput | LogModeNoSummary));
    if (kind == PathKind::Directory) return 0;

    if (kind == PathKind::File && positioned)
        return file.Open(path, FileOpenMode::ExistingReadWrite) ? 1 : 0;

    if (kind == PathKind::File && !(mode & LogModeTruncate) && (mode & LogModeAppend)) {
        // Continue the earlier file: after its last end block when it is framed, else (and
        // when no end block is there) after its last byte, so old text is never overwritten.
        if (!file.Open(path, FileOpenMode::ExistingReadWrite)) return 0;
        try {
            const uint64_t length = file.GetLength();
            if (length >= kEarlierFileLimit) throw FileError("the earlier log is too large");
            writePosition = frame ? ContinuePosition(file, length) : length;
        } catch (const FileError&) {
            file.Abort();
            return 0;
        }
        positioned = true;
        fileReset = true;
        return 1;
    }

    if (kind == PathKind::File && !(mode & LogModeTruncate) && !BackUpEarlierLog(path)) return 0;

    // A new file, an emptied one (truncate mode) or the fresh start after a back-up.
    if (!file.Open(path, FileOpenMode::CreateOrEmptyReadWrite)) return 0;
    fileReset = true;
    // A file that vanished while this log ran is re-created empty; the text goes on at the
    // remembered position.
    if (positioned) return 1;
    try {
        writePosition = StartText(file, path, frame);
    } catch (const FileError&) {
        AbandonEmptiedFile(file);
        return 0;
    }
    positioned = true;
    return 1;
}

uint64_t CLog::ContinuePosition(File& file, uint64_t length) {
    const uint64_t endBlock = FindEndBlock(file);
    if (endBlock >= length) return length;
    // Only the document's closing line may follow the end block; any other text after it
    // would be written over, so the run continues after the last byte instead.
    const uint64_t after = endBlock + kEndBlockLength;
    constexpr size_t kClosingLength = sizeof(kHtmlClosingLine) - 1;
    if (length - after > kClosingLength) return length;
    char tail[kClosingLength];
    const size_t count = static_cast<size_t>(length - after);
    file.Seek(after);
    if (ReadFully(file, tail, count) < count) return length;
    return platform::EqualsIgnoringAsciiCase(tail, kHtmlClosingLine, count) ? endBlock : length;
}

int32_t CLog::CreatePartFile() {
    partFile = part_files::Create(folder, fileName, file);
    // Without a name the text stays in the cache, where the merge takes it from.
    if (!partFile) return 0;
    FollowPartFile();
    writePosition = 0;  // a part file has no frame
    positioned = true;
    fileReset = true;
    return 1;
}

void CLog::FollowPartFile() {
    filePath = part_files::Path(partFile);
    fileName = NamePart(filePath);
}

uint64_t CLog::FindEndBlock(File& file) {
    const uint64_t length = file.GetLength();
    // A file without an end block is continued after its last byte.
    if (length < kEndBlockLength) return length;

    // Search backwards window by window; neighbouring windows overlap by one block length
    // less one byte, so a block lying across their border is still seen whole.
    std::vector<char> window(kSearchWindow + kEndBlockLength - 1);
    uint64_t end = length;
    for (;;) {
        const uint64_t start = end > window.size() ? end - window.size() : 0;
        const size_t count = static_cast<size_t>(end - start);
        file.Seek(start);
        if (ReadFully(file, window.data(), count) < count) return length;
        for (size_t at = count - kEndBlockLength + 1; at-- > 0;) {
            if (platform::EqualsIgnoringAsciiCase(window.data() + at, kHtmlEndBlock,
                                                  kEndBlockLength))
                return start + at;
        }
        if (start == 0) return length;
        end = start + kEndBlockLength - 1;
    }
}

int32_t CLog::Close() {
    if (!lock) return 0;
    int32_t result;
    {
        CriticalSectionGuard guard(*lock);
        result = FlushCache(true);
        if (IsFileOpen()) result = (CloseFile() && result) ? 1 : 0;
        part_files::Delete(partFile);
        if (threadHandle) platform::CloseThreadHandle(threadHandle);
        threadHandle = nullptr;
        isOpen = 0;
    }
    lock.reset();
    return result;
}

}  // namespace vantrel
