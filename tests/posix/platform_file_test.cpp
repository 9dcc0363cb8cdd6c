// The exclusive file object and the path calls of the POSIX platform layer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::File;
using platform::FileError;
using platform::FileOpenMode;
using platform::PathKind;
using platform::testing::ClearFaults;
using platform::testing::FailAfter;
using platform::testing::Fault;
using test::MakeTempDir;
using test::PathExists;
using test::ReadFile;
using test::WriteFile;

constexpr FileOpenMode kAllModes[] = {
    FileOpenMode::CreateOrEmptyReadWrite,
    FileOpenMode::ExistingReadWrite,
    FileOpenMode::ExistingWrite,
    FileOpenMode::ExistingRead,
};

class PlatformFileTest : public ::testing::Test {
  protected:
    std::string dir = MakeTempDir("file");
    std::string Path(const std::string& name) const { return dir + "/" + name; }
};

TEST_F(PlatformFileTest, AFileHeldOpenCannotBeOpenedAgainInAnyMode) {
    const std::string path = Path("held.log");
    WriteFile(path, "kept");
    File holder;
    ASSERT_TRUE(holder.Open(path, FileOpenMode::ExistingRead));
    for (FileOpenMode mode : kAllModes) {
        File other;
        EXPECT_FALSE(other.Open(path, mode)) << static_cast<int>(mode);
        EXPECT_FALSE(other.IsOpen());
    }
    // Create-or-empty was refused before it could empty anything.
    EXPECT_EQ(ReadFile(path), "kept");

    holder.Close();
    File after;
    EXPECT_TRUE(after.Open(path, FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(PlatformFileTest, AFileHeldByThisProcessIsRefusedToAForkedChild) {
    const std::string path = Path("shared.log");
    WriteFile(path, "parent's");
    File holder;
    ASSERT_TRUE(holder.Open(path, FileOpenMode::ExistingReadWrite));

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        File mine;
        bool opened = mine.Open(path, FileOpenMode::CreateOrEmptyReadWrite);
        _exit(opened ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child opened a file this process holds";
    EXPECT_EQ(ReadFile(path), "parent's");
}

TEST_F(PlatformFileTest, OpeningRefusesSymbolicLinksDirectoriesAndMissingFiles) {
    const std::string target = Path("target.log");
    const std::string link = Path("planted.log");
    WriteFile(target, "precious");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    for (FileOpenMode mode : kAllModes) {
        File file;
        EXPECT_FALSE(file.Open(link, mode)) << static_cast<int>(mode);
    }
    EXPECT_EQ(ReadFile(target), "precious");

    // A dangling link must not create its target either.
    const std::string dangling = Path("dangling.log");
    const std::string nowhere = Path("nowhere.log");
    ASSERT_EQ(symlink(nowhere.c_str(), dangling.c_str()), 0);
    File viaDangling;
    EXPECT_FALSE(viaDangling.Open(dangling, FileOpenMode::CreateOrEmptyReadWrite));
    EXPECT_FALSE(PathExists(nowhere));

    for (FileOpenMode mode : kAllModes) {
        File folder;
        EXPECT_FALSE(folder.Open(dir, mode)) << static_cast<int>(mode);
    }

    const std::string missing = Path("missing.log");
    for (FileOpenMode mode : {FileOpenMode::ExistingReadWrite, FileOpenMode::ExistingWrite,
                              FileOpenMode::ExistingRead}) {
        File file;
        EXPECT_FALSE(file.Open(missing, mode));
    }
    EXPECT_FALSE(PathExists(missing));
}

TEST_F(PlatformFileTest, CreatedFilesAreReadableByAllAndWritableByTheOwner) {
    mode_t previous = umask(022);
    File file;
    bool opened = file.Open(Path("new.log"), FileOpenMode::CreateOrEmptyReadWrite);
    umask(previous);
    ASSERT_TRUE(opened);
    struct stat info;
    ASSERT_EQ(stat(Path("new.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(PlatformFileTest, ReadsWritesAndSeeksWithSixtyFourBitOffsets) {
    const std::string path = Path("data.log");
    File file;
    ASSERT_TRUE(file.Open(path, FileOpenMode::CreateOrEmptyReadWrite));
    file.Write("hello world", 11);
    EXPECT_EQ(file.GetLength(), 11u);
    EXPECT_EQ(file.GetPosition(), 11u);
    file.Seek(6);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);

    // Past 4 GiB nothing wraps (the file stays sparse).
    const uint64_t far = (5ull << 30) + 7;
    file.Seek(far);
    file.Write("!", 1);
    EXPECT_EQ(file.GetLength(), far + 1);
    EXPECT_EQ(file.GetPosition(), far + 1);
    file.Seek(far);
    EXPECT_EQ(file.Read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], '!');

    file.SetLength(5);
    EXPECT_EQ(file.GetLength(), 5u);
    file.SeekToEnd();
    EXPECT_EQ(file.GetPosition(), 5u);
    EXPECT_EQ(file.GetFileName(), "data.log");
    EXPECT_EQ(file.GetFilePath(), path);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadFile(path), "hello");
}

TEST_F(PlatformFileTest, InjectedFaultsFailEachOperationAsARealFailureWould) {
    const std::string path = Path("faults.log");
    WriteFile(path, "0123456789");
    File file;

    FailAfter(Fault::FileOpen, 0);
    EXPECT_FALSE(file.Open(path, FileOpenMode::ExistingReadWrite));
    ASSERT_TRUE(file.Open(path, FileOpenMode::ExistingReadWrite));

    FailAfter(Fault::FileWrite, 0);
    EXPECT_THROW(file.Write("xyz", 3), FileError);
    FailAfter(Fault::FileRead, 0);
    char buffer[4];
    EXPECT_THROW(file.Read(buffer, 4), FileError);
    FailAfter(Fault::FileSeek, 0, 2);
    EXPECT_THROW(file.Seek(2), FileError);
    EXPECT_THROW(file.SeekToEnd(), FileError);
    FailAfter(Fault::FileLength, 0);
    EXPECT_THROW(file.GetLength(), FileError);
    EXPECT_EQ(file.GetLength(), 10u);

    // A failed close still gives the file up, and with it the lock.
    FailAfter(Fault::FileClose, 0);
    EXPECT_THROW(file.Close(), FileError);
    EXPECT_FALSE(file.IsOpen());
    File next;
    EXPECT_TRUE(next.Open(path, FileOpenMode::ExistingRead));
    next.Close();
    EXPECT_EQ(ReadFile(path), "0123456789");

    // The writer relies on a closed file throwing rather than writing somewhere.
    EXPECT_THROW(file.Seek(0), FileError);
    EXPECT_THROW(file.Write("x", 1), FileError);
    EXPECT_NO_THROW(file.Close());

    FailAfter(Fault::FileDelete, 0);
    EXPECT_FALSE(platform::DeleteFile(path));
    EXPECT_TRUE(PathExists(path));
    FailAfter(Fault::CreateDirectory, 0);
    EXPECT_FALSE(platform::CreateDirectory(Path("sub")));
    EXPECT_FALSE(PathExists(Path("sub")));
    ClearFaults();
}

TEST_F(PlatformFileTest, PathKindsDirectoryCreationAndDeletion) {
    EXPECT_EQ(platform::GetPathKind(Path("none")), PathKind::None);
    WriteFile(Path("plain"), "x");
    EXPECT_EQ(platform::GetPathKind(Path("plain")), PathKind::File);
    EXPECT_EQ(platform::GetPathKind(Path("plain/below")), PathKind::None);
    // A folder reached through a link still counts as a folder.
    ASSERT_EQ(symlink(dir.c_str(), Path("linked").c_str()), 0);
    EXPECT_EQ(platform::GetPathKind(Path("linked")), PathKind::Directory);

    EXPECT_TRUE(platform::CreateDirectory(Path("made")));
    EXPECT_FALSE(platform::CreateDirectory(Path("made")));
    EXPECT_FALSE(platform::CreateDirectory(Path("missing/child")));

    EXPECT_TRUE(platform::DeleteFile(Path("plain")));
    EXPECT_FALSE(platform::DeleteFile(Path("plain")));
    EXPECT_FALSE(platform::DeleteFile(Path("made")));
    EXPECT_EQ(platform::GetPathKind(Path("made")), PathKind::Directory);
}

}  // namespace
}  // namespace vantrel
