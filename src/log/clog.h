// CLog: one log. It formats entries into its cache, writes the cache to its file at the
// write position, and owns its file, its lock and the handle of its thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "log/part_files.h"
#include "log/text_cache.h"
#include "platform/critical_section.h"
#include "platform/file.h"
#include "platform/handles.h"

namespace vantrel {

// writePosition of a log that has not yet opened its file in this run.
constexpr uint64_t kNotPositioned = 0x00000000FFFFFFFFull;

class CLog {
  public:
    CLog();
    // Releases the strings and the file object (a file still open is closed).
    virtual ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // Virtual operations, in the order every log implementation relies on.
    virtual int32_t Printf(int32_t device, const char* format, va_list args);
    virtual int32_t DrawBitmap(int32_t device, const char* imageName, void* bitmap,
                               const char* format, va_list args);
    virtual int32_t FlushCache(bool bFinal);
    virtual int32_t Open(uint32_t processId, platform::ThreadHandle threadHandle, uint32_t threadId,
                         uint32_t mode, const char* folder, const char* fileName, int32_t cacheSize,
                         int32_t indentSize);
    virtual int32_t Close();
    virtual int32_t FuncBegin(int32_t device, const char* funcName);
    virtual int32_t FuncEnd(int32_t device);
    virtual int32_t OpenFile();
    virtual int32_t CloseFile();
    virtual bool IsFileOpen();
    virtual int32_t WriteSummary();
    virtual int32_t GetCacheLength();
    virtual bool IsCacheFull();
    virtual bool IsCacheEmpty();
    virtual int32_t SeekToWritePosition();

    // Read-only views for the service and for tests.
    std::string_view GetCache() const { return cache.view(); }
    uint32_t GetThreadId() const { return threadId; }
    platform::ThreadHandle GetThreadHandle() const { return threadHandle; }
    uint64_t GetWritePosition() const { return writePosition; }
    // True once the first opening of this run has given writePosition a real offset.
    bool IsPositioned() const { return positioned; }
    bool GetIsOpen() const { return isOpen != 0; }
    // The open part file of a thread log, which the service's merge copies from.
    platform::File& GetFileObject() { return file; }

  protected:
    // The service's merge holds a thread log's lock while it reads that log's text.
    friend class CLogService;

    // Formatting (the helpers expect lock to be held).
    int32_t GetIndent(int32_t level) const;
    int32_t AppendText(const char* text, int32_t length, bool bIndent);
    // AppendText for count characters known to hold no NUL.
    int32_t AppendCharacters(const char* text, size_t count, bool bIndent);
    // Ends an append whose text the cache holds from textAt on, behind an indentation from
    // before on: a final LF becomes CR LF, and an append that would take the cache past a
    // signed 32-bit length, or for which memory runs out, is taken back.
    int32_t EndAppend(size_t before, size_t textAt);
    int32_t AppendImageTag(const char* imageName, const char* text, int32_t length, bool bIndent);
    // The end-of-append fill check; isImage selects the image-tag variant.
    int32_t FillCheck(bool isImage);

    // Writes count bytes at the file's current position in pieces of at most 1 MiB;
    // a file failure passes to the caller as FileError.
    void WriteRaw(const void* data, uint32_t count);
    // With LogModeHtml, the end block and the closing line after a summary.
    void WriteDocumentEnd();

    // The file writer.
    int32_t OpenLogFile(const std::string& path);
    // The first opening of a part file (a log deleted on close): created under a free name.
    int32_t CreatePartFile();
    // Takes the part file's name and path from where it lies now (it may have been moved).
    void FollowPartFile();
    static uint64_t FindEndBlock(platform::File& file);
    // Where a continued HTML log's text goes: at its last end block, unless text other than
    // the closing line follows that block.
    static uint64_t ContinuePosition(platform::File& file, uint64_t length);
    int32_t SetFolder(const char* folderPath);
    int32_t BuildFileName(const char* name);
    static int32_t CreateFolderPath(const std::string& folderPath);

    // Bitmap snapshots.
    static int32_t WriteDib(const void* bitmap, platform::File& file);
    static uint32_t PaletteSize(const void* bitmap);
    static uint32_t DibNumColors(const void* bitmap);

    // Fields, in their order in the object.
    std::string folder;  // ends in the path separator after Open
    std::string fileName;
    TextCache cache;
    uint32_t processId = 0;
    platform::ThreadHandle threadHandle = nullptr;
    uint32_t threadId = 0;
    uint32_t mode = 0;
    int32_t indentLevel = 0;
    platform::File file;
    int32_t isOpen = 0;
    int32_t cacheSize = 0;
    uint64_t writePosition = kNotPositioned;
    char prevLastChar = 0;
    char lastChar = 0;
    int32_t indentSize = 0;
    int32_t bitmapCount = 0;
    // Created by Open unless given before it (a thread log whose entries all run under its
    // service's lock shares that lock), released by Close.
    std::shared_ptr<platform::CriticalSection> lock;
    // The part file this log created in this run (a log deleted on close): the only file
    // it ever writes or deletes.
    part_files::Ticket partFile;

    // Set by OpenLogFile whenever the opening left the file in a state the log did not
    // write itself (first opening, a file created or emptied anew); the service's merge
    // reads it to fall back to a full rewrite, then clears it.
    bool fileReset = true;

    // The path the first opening of this run opened, which every later opening reopens.
    std::string filePath;
    // The file's length, known without asking the system while the file stays open after a
    // reopening and nothing but WriteAt of the merge has written to it.
    uint64_t knownFileLength = 0;
    bool fileLengthKnown = false;

    // Whether writePosition holds an offset. Kept beside kNotPositioned so that a flush
    // ending exactly at 0xFFFFFFFF is never taken for "not yet positioned".
    bool positioned = false;
};

}  // namespace vantrel
