// The file object of the log writer, the path status and directory calls. Every opening is
// exclusive: no other opener, in this process or another, may use the file while it is open.
// Failures on an open file are thrown as FileError; opening reports failure by its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrel::platform {

class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class FileOpenMode {
    CreateOrEmptyReadWrite,  // created when missing, emptied when present
    CreateNewReadWrite,      // created; fails when anything is at the path already
    ExistingReadWrite,
    ExistingWrite,
    ExistingRead,
};

enum class PathKind { None, File, Directory };

// One piece of a gathered write (WriteAt).
struct WritePiece {
    const void* data;
    uint32_t size;
};

// The bytes [begin, end) of the pieces taken one after the other, as pieces.
std::vector<WritePiece> SliceOfPieces(const WritePiece* pieces, size_t count, uint64_t begin,
                                      uint64_t end);

PathKind GetPathKind(const std::string& path);
// CreateDirectoryA: one directory; false when it cannot be made (also when it exists).
bool CreateDirectory(const std::string& path);
// DeleteFileA: false when it cannot be deleted.
bool DeleteFile(const std::string& path);
// The name of the entry of `folder` (given with its final separator) that the system would
// open for `name` were letters compared without regard to ASCII case, as Windows compares
// them; empty when there is none.
std::string FindNameIgnoringCase(const std::string& folder, const std::string& name);
// MoveFileA: renames a file; false when anything is at `to` already or the move fails.
bool RenameFile(const std::string& from, const std::string& to);

class File {
  public:
    File() = default;
    ~File();  // closes an open file, ignoring errors
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // False when the file cannot be opened in that mode or another opener holds it. An
    // empty-on-open never empties a file held by someone else.
    bool Open(const std::string& path, FileOpenMode mode);
    // Opens an existing file for reading and writing, as ExistingReadWrite does, for a writer
    // that names the offset of every write (WriteAt): the file position is left undefined,
    // which spares the calls Open spends on it. *length receives the file's length. On
    // failure *missing tells whether nothing is at the path or a folder on the way is gone.
    bool OpenForWritesAt(const std::string& path, uint64_t* length, bool* missing);
    bool IsOpen() const { return handle_ != kNoHandle; }
    // Whether the path given to Open still names this open file (not deleted, moved away or
    // replaced); *length receives the file's length. False also when either cannot be
    // looked at.
    bool IsStillAtPath(uint64_t* length);
    // Closes the handle; a failure is thrown after the handle is released.
    void Close();
    // Closes without reporting anything (for abandoning a file after an error).
    void Abort() noexcept;

    void Seek(uint64_t offset);  // from the beginning
    void SeekToEnd();
    uint64_t GetPosition();
    uint64_t GetLength();
    // Reads up to count bytes; 0 at the end of the file.
    uint32_t Read(void* buffer, uint32_t count);
    // Writes all count bytes at the current position.
    void Write(const void* data, uint32_t count);
    // Writes the pieces one after the other from offset, in one positioned vector write where
    // the system has one; the file position is left undefined. A test's write fault fails it
    // as a full disk does: the bytes inside the file's length are written, the rest is not.
    void WriteAt(uint64_t offset, const WritePiece* pieces, size_t count);
    // Cuts the file (or extends it) to length bytes.
    void SetLength(uint64_t length);
    // The path given to Open, and its name part.
    const std::string& GetFilePath() const { return path_; }
    std::string GetFileName() const;

  private:
    static constexpr intptr_t kNoHandle = -1;
    intptr_t handle_ = kNoHandle;
    std::string path_;
};

}  // namespace vantrel::platform
