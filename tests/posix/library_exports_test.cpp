// The shared library exports the functions of its interface and nothing else; the list is
// the one the check of the Windows DLL reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

namespace {

TEST(LibraryExports, ExactlyTheListedFunctions) {
    FILE* pipe = popen(("nm -D --defined-only " VANTREL_LIBRARY_PATH), "r");
    ASSERT_NE(nullptr, pipe);
    std::set<std::string> exported, expected;
    char address[64], type[8], name[512];
    while (fscanf(pipe, "%63s %7s %511s", address, type, name) == 3)
        exported.insert(std::string(name).substr(0, std::string(name).find('@')));
    ASSERT_EQ(0, pclose(pipe));
    std::ifstream list(VANTREL_SOURCE_DIR "/tests/exports.txt");
    for (std::string line; std::getline(list, line);) expected.insert(line);
    EXPECT_EQ(25u, expected.size());
    EXPECT_EQ(expected, exported);
}

}  // namespace
