// The Win32 exclusive file: no sharing, create-or-empty that never empties a held file,
// devices refused, 64-bit positions, and failures thrown as FileError.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"
#include "win32_api.h"

namespace vantrel::platform {
namespace {

using test::MakeTempDir;
using test::ReadFile;
using test::WriteFile;

TEST(Win32File, AFileHeldOpenIsRefusedToEveryOtherOpeningAndNeverEmptied) {
    const std::string path = MakeTempDir("file") + "\\held.log";
    WriteFile(path, "earlier text");
    File holder;
    ASSERT_TRUE(holder.Open(path, FileOpenMode::ExistingRead));
    for (FileOpenMode mode : {FileOpenMode::CreateOrEmptyReadWrite, FileOpenMode::ExistingReadWrite,
                              FileOpenMode::ExistingWrite, FileOpenMode::ExistingRead}) {
        File other;
        EXPECT_FALSE(other.Open(path, mode)) << static_cast<int>(mode);
    }
    // Nor may anyone outside the library read it meanwhile.
    HANDLE reader = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
    holder.Close();
    EXPECT_EQ(ReadFile(path), "earlier text");

    File emptied;
    ASSERT_TRUE(emptied.Open(path, FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_EQ(emptied.GetLength(), 0u);
    emptied.Close();
}

TEST(Win32File, MissingFilesFoldersAndDevicesAreNotOpened) {
    const std::string dir = MakeTempDir("file");
    File file;
    EXPECT_FALSE(file.Open(dir + "\\missing.log", FileOpenMode::ExistingRead));
    EXPECT_FALSE(file.Open(dir, FileOpenMode::ExistingRead));
    // Reserved device names open the device whatever folder and extension they carry.
    EXPECT_FALSE(file.Open(dir + "\\nul.log", FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_FALSE(file.IsOpen());
    ASSERT_TRUE(file.Open(dir + "\\new.log", FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_EQ(file.GetFileName(), "new.log");
}

TEST(Win32File, SixtyFourBitPositionsAndLengthChangesThatKeepThePosition) {
    const std::string path = MakeTempDir("file") + "\\big.log";
    File file;
    ASSERT_TRUE(file.Open(path, FileOpenMode::CreateOrEmptyReadWrite));
    file.Write("abcdef", 6);
    EXPECT_EQ(file.GetPosition(), 6u);
    file.SetLength(3);
    EXPECT_EQ(file.GetPosition(), 6u) << "a length change leaves the position alone";
    EXPECT_EQ(file.GetLength(), 3u);

    const uint64_t beyond = (uint64_t{1} << 32) + 10;
    file.Seek(beyond);
    file.Write("xy", 2);
    EXPECT_EQ(file.GetPosition(), beyond + 2);
    EXPECT_EQ(file.GetLength(), beyond + 2);
    file.Seek(beyond);
    char back[2] = {};
    EXPECT_EQ(file.Read(back, 2), 2u);
    EXPECT_EQ(std::string(back, 2), "xy");
    EXPECT_EQ(file.Read(back, 2), 0u) << "end of file";
    file.SetLength(4);
    file.SeekToEnd();
    EXPECT_EQ(file.GetPosition(), 4u);
    file.Close();
}

TEST(Win32File, FailuresAreThrownAsFileErrorAndAClosedFileRefusesEverything) {
    const std::string dir = MakeTempDir("file");
    File file;
    ASSERT_TRUE(file.Open(dir + "\\faults.log", FileOpenMode::CreateOrEmptyReadWrite));
    testing::FailAfter(testing::Fault::FileWrite, 0);
    EXPECT_THROW(file.Write("x", 1), FileError);
    testing::FailAfter(testing::Fault::FileSeek, 0);
    EXPECT_THROW(file.Seek(0), FileError);
    testing::FailAfter(testing::Fault::FileLength, 0);
    EXPECT_THROW(file.GetLength(), FileError);
    testing::FailAfter(testing::Fault::FileRead, 0);
    char buffer[1];
    EXPECT_THROW(file.Read(buffer, 1), FileError);
    testing::FailAfter(testing::Fault::FileClose, 0);
    EXPECT_THROW(file.Close(), FileError);
    EXPECT_FALSE(file.IsOpen()) << "the handle is released even when closing fails";
    EXPECT_THROW(file.Write("x", 1), FileError);
    EXPECT_THROW(file.GetPosition(), FileError);

    File readOnly;
    WriteFile(dir + "\\read.log", "r");
    ASSERT_TRUE(readOnly.Open(dir + "\\read.log", FileOpenMode::ExistingRead));
    EXPECT_THROW(readOnly.Write("x", 1), FileError);

    testing::FailAfter(testing::Fault::FileOpen, 0);
    EXPECT_FALSE(file.Open(dir + "\\other.log", FileOpenMode::CreateOrEmptyReadWrite));
}

TEST(Win32File, PathKindsFolderCreationAndDeletion) {
    const std::string dir = MakeTempDir("file");
    EXPECT_EQ(GetPathKind(dir), PathKind::Directory);
    EXPECT_EQ(GetPathKind(dir + "\\none"), PathKind::None);
    EXPECT_TRUE(CreateDirectory(dir + "\\sub"));
    EXPECT_FALSE(CreateDirectory(dir + "\\sub")) << "an existing folder counts as a failure";
    EXPECT_FALSE(CreateDirectory(dir + "\\a\\b")) << "one level at a time";
    WriteFile(dir + "\\sub\\f.txt", "x");
    EXPECT_EQ(GetPathKind(dir + "\\sub\\f.txt"), PathKind::File);
    EXPECT_TRUE(DeleteFile(dir + "\\sub\\f.txt"));
    EXPECT_FALSE(DeleteFile(dir + "\\sub\\f.txt"));
    testing::FailAfter(testing::Fault::CreateDirectory, 0);
    EXPECT_FALSE(CreateDirectory(dir + "\\seam"));
}

}  // namespace
}  // namespace vantrel::platform
