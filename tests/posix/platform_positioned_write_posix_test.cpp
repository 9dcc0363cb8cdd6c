// The reopening of a log file on POSIX takes only a regular file: the seek that measures it is
// what refuses a FIFO planted at its path.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/file.h"
#include "support/test_environment.h"

namespace vantrel {
namespace {

TEST(PositionedWritePosixTest, ReopeningRefusesAFifo) {
    const std::string path = test::MakeTempDir("positioned-fifo") + "/log.txt";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    platform::File file;
    uint64_t length = 0;
    bool missing = true;
    EXPECT_FALSE(file.OpenForWritesAt(path, &length, &missing));
    EXPECT_FALSE(missing);
    EXPECT_FALSE(file.IsOpen());
}

}  // namespace
}  // namespace vantrel
