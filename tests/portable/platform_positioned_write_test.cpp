// The reopening and the positioned vector write that a write-immediately log spends its
// system calls on, on every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/test_seam.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

using platform::File;
using platform::FileOpenMode;
using platform::WritePiece;
using platform::testing::Fault;

// Only a path that is not there counts as missing (the log then starts the file afresh); a
// file held elsewhere or a failed opening must not.
TEST(PositionedWrite, ReopeningTellsAMissingFileFromOtherFailures) {
    const std::string dir = test::MakeTempDir("positioned") + "/";
    test::WriteFile(dir + "held.log", "kept");
    File holder, file;
    ASSERT_TRUE(holder.Open(dir + "held.log", FileOpenMode::ExistingRead));
    test::WriteFile(dir + "log.txt", "x");
    const struct {
        std::string path;
        bool injected, missing;
    } rows[] = {{dir + "none.log", false, true},
                {dir + "gone/none.log", false, true},
                {dir + "held.log", false, false},
                {dir + "log.txt", true, false}};
    for (const auto& row : rows) {
        uint64_t length = 0;
        bool missing = !row.missing;
        if (row.injected) platform::testing::FailAfter(Fault::FileOpen, 0);
        EXPECT_FALSE(file.OpenForWritesAt(row.path, &length, &missing)) << row.path;
        EXPECT_EQ(missing, row.missing) << row.path;
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ(test::ReadFile(dir + "held.log"), "kept");
}

// More pieces than one system call takes land in order at the offset; a failed piece leaves
// the pieces before it written, and a failed positioning writes nothing.
TEST(PositionedWrite, PiecesLandInOrderAndAFailureStopsAtItsPiece) {
    const std::string path = test::MakeTempDir("positioned") + "/log.txt";
    test::WriteFile(path, "0123");
    std::vector<std::string> texts;
    std::string expected = "0123";
    for (int i = 0; i < 300; ++i) expected += texts.emplace_back(std::to_string(i) + ",");
    std::vector<WritePiece> pieces;
    for (const std::string& text : texts)
        pieces.push_back(WritePiece{text.data(), static_cast<uint32_t>(text.size())});
    File file;
    uint64_t length = 0;
    bool missing = true;
    ASSERT_TRUE(file.OpenForWritesAt(path, &length, &missing));
    EXPECT_EQ(length, 4u);
    File other;
    EXPECT_FALSE(other.Open(path, FileOpenMode::ExistingRead)) << "held exclusively";
    file.WriteAt(4, pieces.data(), pieces.size());
    platform::testing::FailAfter(Fault::FileWrite, 1);
    EXPECT_THROW(file.WriteAt(0, pieces.data() + 10, 3), platform::FileError);
    platform::testing::FailAfter(Fault::FileSeek, 0);
    EXPECT_THROW(file.WriteAt(0, pieces.data() + 20, 1), platform::FileError);
    file.Close();
    EXPECT_EQ(test::ReadFile(path), "10," + expected.substr(3));
}

}  // namespace
}  // namespace vantrel
