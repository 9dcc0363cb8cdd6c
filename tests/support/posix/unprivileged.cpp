#include "support/unprivileged.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_environment.h"

namespace vantrel::test {

namespace {
std::string MakeLibraryCopy() {
    const std::string folder = MakeTempDir("library"), copy = folder + "/libvantrel.so";
    std::error_code error;
    std::filesystem::copy_file(VANTREL_LIBRARY_PATH, copy, error);
    if (error || chmod(folder.c_str(), 0755) != 0 || chmod(copy.c_str(), 0755) != 0) {
        ADD_FAILURE() << "cannot copy the library to " << copy << ": " << error.message();
        return "";
    }
    // The folder and every folder above it must let others through.
    for (std::filesystem::path at = folder; at.has_relative_path(); at = at.parent_path()) {
        struct stat info;
        if (stat(at.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) {
            ADD_FAILURE() << at
                          << " keeps other users out; point TMPDIR at a folder they can reach";
            return "";
        }
    }
    return copy;
}
}  // namespace

const std::string& LibraryForAnyUser() {
    static const std::string copy = MakeLibraryCopy();
    return copy;
}

bool DropPrivilegesTo(uid_t id) {
    return setgroups(0, nullptr) == 0 && setgid(id) == 0 && setuid(id) == 0;
}

}  // namespace vantrel::test
