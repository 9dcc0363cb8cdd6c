#include "runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vantrel::platform {

namespace {

// A folder that someone else owns or can write into could hold planted lock files or
// links, so it is never used.
bool IsPrivateFolder(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

bool EnsurePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return IsPrivateFolder(path);
}

}  // namespace

std::string RuntimeDirectory() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    std::string folder;
    if (runtime && *runtime == '/') {
        folder = std::string(runtime) + "/vantrel";
    } else {
        folder = "/tmp/vantrel-" + std::to_string(geteuid());
    }
    return EnsurePrivateFolder(folder) ? folder : std::string();
}

}  // namespace vantrel::platform
