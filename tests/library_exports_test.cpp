// The shared library exports the 25 C functions of its interface and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
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
    const std::set<std::string> expected = {
        "logPrintfMgr_device_fname",
        "logPrintfMgr_deviceDefault_fname",
        "logPrintfMgr_device_fnameDefault",
        "logPrintfMgr_deviceDefault_fnameDefault",
        "logDrawBitmapMgr_device_fname",
        "logDrawBitmapMgr_deviceDefault_fname",
        "logDrawBitmapMgr_device_fnameDefault",
        "logDrawBitmapMgr_deviceDefault_fnameDefault",
        "logFuncBeginMgr_device_fname",
        "logFuncEndMgr_device_fname",
        "logPrintfMgr",
        "logPrintfMgr_Default",
        "logPrintfMgr_level",
        "logPrintfMgr_level_Default",
        "logDrawBitmapMgr",
        "logDrawBitmapMgr_Default",
        "logDrawBitmapMgr_level_Default",
        "logFuncBeginMgr",
        "logFuncEndMgr",
        "dtimerRecordBegin",
        "dtimerRecordEnd",
        "dtimerGetElapsed",
        "dtimerGetCount",
        "dtimerGetAverageElapsed",
        "dtimerReset",
    };
    EXPECT_EQ(exported, expected);
}

}  // namespace
