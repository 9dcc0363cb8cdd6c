// What the fuzz targets share: a broken promise aborts (libFuzzer keeps the input), and files
// live in a private folder made once per process.
#pragma once

#include <stdlib.h>

#include <string>

namespace fuzz {

inline void Require(bool condition) {
    if (!condition) abort();
}

inline std::string InFolder(const std::string& name) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vantrel-fuzz-files-XXXXXX";
        Require(mkdtemp(pattern) != nullptr);
        return std::string(pattern) + "/";
    }();
    return folder + name;
}

}  // namespace fuzz
