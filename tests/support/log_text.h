// Reading the texts of log files: counting parts, masking summary times, lower case.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>

namespace vantrel::test {

inline int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Replaces the times of summary blocks by a fixed text, so files compare exactly.
inline std::string MaskTimes(const std::string& text) {
    static const std::regex logTime("Log Time: \\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3}");
    return std::regex_replace(text, logTime, "Log Time: <time>");
}

inline std::string ImageTag(const std::string& name) {
    return "<img src=\"img/" + name + "\" border=\"0\" align=\"bottom\" alt=\"" + name + "\">";
}

inline std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The service summary a merge writes, its time masked as MaskTimes masks it.
inline std::string ServiceSummary(uint32_t pid, int threads, uint32_t loadingThreadId) {
    char text[320];
    std::snprintf(
        text, sizeof text,
        "\r\nProcess ID: 0x%x\r\nThere are %d thread(s) involved in this log process.\r\n"
        "The initializing/loading thread of vantrel.dll is 0x%08x.\r\nLog Time: <time>\r\n",
        pid, threads, loadingThreadId);
    return text + std::string(72, '/') + "\r\n\r\n";
}

}  // namespace vantrel::test
