// The shared library exports the 25 C functions of its interface and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

TEST(LibraryExports, ExactlyTheTwentyFiveFunctions) {
    std::string command = std::string("nm -D --defined-only ") + VANTREL_LIBRARY_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (name.empty()) continue;
        exported.insert(name.substr(0, name.find('@')));
    }
    ASSERT_EQ(pclose(pipe), 0);
    // The 25 names, one per line; the check of the Windows DLL reads the same list.
    std::ifstream list(VANTREL_SOURCE_DIR "/tests/exports.txt");
    std::set<std::string> expected;
    for (std::string name; std::getline(list, name);) expected.insert(name);
    EXPECT_EQ(expected.size(), 25u);
    EXPECT_EQ(exported, expected);
}

}  // namespace
