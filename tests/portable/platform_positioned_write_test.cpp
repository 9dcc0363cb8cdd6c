// The reopening and the positioned vector write that a write-immediately log spends its
// system calls on: OpenForWritesAt and WriteAt of the file object, on every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::File;
using platform::FileError;
using platform::FileOpenMode;
using platform::WritePiece;
using platform::testing::ClearFaults;
using platform::testing::FailAfter;
using platform::testing::Fault;
using test::MakeTempDir;
using test::ReadFile;
using test::WriteFile;

class PositionedWriteTest : public ::testing::Test {
  protected:
    void TearDown() override { ClearFaults(); }
    std::string dir = MakeTempDir("positioned");
    std::string Path(const std::string& name) const { return dir + "/" + name; }
};

WritePiece Piece(const std::string& text) {
    return WritePiece{text.data(), static_cast<uint32_t>(text.size())};
}

TEST_F(PositionedWriteTest, ReopeningTellsAMissingPathFromAFileHeldElsewhere) {
    File file;
    uint64_t length = 99;
    bool missing = false;
    EXPECT_FALSE(file.OpenForWritesAt(Path("none.log"), &length, &missing));
    EXPECT_TRUE(missing);
    EXPECT_FALSE(file.OpenForWritesAt(Path("gone/none.log"), &length, &missing));
    EXPECT_TRUE(missing);
    EXPECT_FALSE(file.IsOpen());

    WriteFile(Path("held.log"), "kept");
    File holder;
    ASSERT_TRUE(holder.Open(Path("held.log"), FileOpenMode::ExistingRead));
    EXPECT_FALSE(file.OpenForWritesAt(Path("held.log"), &length, &missing));
    EXPECT_FALSE(missing);
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(PositionedWriteTest, ReopeningMeasuresTheFileAndHoldsItExclusively) {
    WriteFile(Path("log.txt"), "0123456789");
    File file;
    uint64_t length = 0;
    bool missing = true;
    ASSERT_TRUE(file.OpenForWritesAt(Path("log.txt"), &length, &missing));
    EXPECT_EQ(length, 10u);
    File other;
    EXPECT_FALSE(other.Open(Path("log.txt"), FileOpenMode::ExistingRead));
    file.Close();
    EXPECT_EQ(ReadFile(Path("log.txt")), "0123456789");
}

TEST_F(PositionedWriteTest, PiecesLandInOrderAtTheOffsetAndKeepWhatStandsBefore) {
    WriteFile(Path("log.txt"), "0123456789");
    File file;
    uint64_t length = 0;
    bool missing = false;
    ASSERT_TRUE(file.OpenForWritesAt(Path("log.txt"), &length, &missing));
    const std::string a = "ab", empty, c = "cdefghijkl";
    const WritePiece pieces[] = {Piece(a), Piece(empty), Piece(c)};
    file.WriteAt(4, pieces, 3);
    // The position is not the writer's business afterwards: a second write names its own.
    const std::string z = "Z";
    const WritePiece last[] = {Piece(z)};
    file.WriteAt(0, last, 1);
    file.Close();
    EXPECT_EQ(ReadFile(Path("log.txt")), "Z123abcdefghijkl");
}

// More pieces than one system call takes: all of them, in order.
TEST_F(PositionedWriteTest, ManyPiecesAreAllWritten) {
    File file;
    ASSERT_TRUE(file.Open(Path("log.txt"), FileOpenMode::CreateOrEmptyReadWrite));
    std::vector<std::string> texts;
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        texts.push_back(std::to_string(i) + ",");
        expected += texts.back();
    }
    std::vector<WritePiece> pieces;
    for (const std::string& text : texts) pieces.push_back(Piece(text));
    file.WriteAt(0, pieces.data(), pieces.size());
    file.Close();
    EXPECT_EQ(ReadFile(Path("log.txt")), expected);
}

// A failed piece leaves the pieces before it written, as separate writes would; a failed
// positioning writes nothing. (The file is closed before it is read: on Windows nobody else
// may open it meanwhile.)
TEST_F(PositionedWriteTest, AFailureStopsAtThePieceThatFailed) {
    const std::string a = "first ", b = "second ", c = "third";
    const WritePiece pieces[] = {Piece(a), Piece(b), Piece(c)};
    File file;
    ASSERT_TRUE(file.Open(Path("log.txt"), FileOpenMode::CreateOrEmptyReadWrite));
    FailAfter(Fault::FileWrite, 1);
    EXPECT_THROW(file.WriteAt(0, pieces, 3), FileError);
    file.Close();
    EXPECT_EQ(ReadFile(Path("log.txt")), "first ");

    ASSERT_TRUE(file.Open(Path("log.txt"), FileOpenMode::ExistingReadWrite));
    FailAfter(Fault::FileSeek, 0);
    EXPECT_THROW(file.WriteAt(0, pieces + 2, 1), FileError);
    file.Close();
    EXPECT_EQ(ReadFile(Path("log.txt")), "first ");
    ClearFaults();

    ASSERT_TRUE(file.Open(Path("log.txt"), FileOpenMode::ExistingReadWrite));
    file.WriteAt(6, pieces + 1, 2);
    file.Close();
    EXPECT_EQ(ReadFile(Path("log.txt")), "first second third");
}

TEST_F(PositionedWriteTest, AnInjectedOpenFailureIsNotAMissingFile) {
    WriteFile(Path("log.txt"), "x");
    File file;
    uint64_t length = 0;
    bool missing = true;
    FailAfter(Fault::FileOpen, 0);
    EXPECT_FALSE(file.OpenForWritesAt(Path("log.txt"), &length, &missing));
    EXPECT_FALSE(missing);
}

}  // namespace
}  // namespace vantrel
