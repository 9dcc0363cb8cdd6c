// What the fuzz targets share: a broken promise aborts (libFuzzer keeps the input), and files
// live in a private folder made once per process.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzz {

inline void Require(bool condition) {
    if (!condition) abort();
}

inline uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline std::string InFolder(const std::string& name) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vantrel-fuzz-files-XXXXXX";
        Require(mkdtemp(pattern) != nullptr);
        return std::string(pattern) + "/";
    }();
    return folder + name;
}

inline std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace fuzz
