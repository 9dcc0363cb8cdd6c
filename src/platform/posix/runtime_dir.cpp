#include "platform/posix/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/xdg_base_dirs.h"

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
    // The per-user folder under /tmp, not under $TMPDIR: every process of the user must find
    // the same lock files, whatever its environment.
    const std::string fallback = "/tmp/vantrel-" + std::to_string(geteuid());
    const std::string runtime = XdgAbsolutePath("XDG_RUNTIME_DIR");
    if (!runtime.empty()) {
        // A runtime folder that is missing or not usable (not ours, open to others) must not
        // stop the library: the fallback is as private.
        std::string folder = runtime + "/vantrel";
        if (EnsurePrivateFolder(folder)) return folder;
    }
    return EnsurePrivateFolder(fallback) ? fallback : std::string();
}

}  // namespace vantrel::platform
