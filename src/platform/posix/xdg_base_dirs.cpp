#include "platform/posix/xdg_base_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace vantrel::platform {

namespace {

std::string PasswordHome() {
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found ||
        !found->pw_dir) {
        return std::string();
    }
    return found->pw_dir;
}

}  // namespace

std::string XdgAbsolutePath(const char* variable) {
    const char* value = getenv(variable);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

std::string XdgConfigHome() {
    std::string config = XdgAbsolutePath("XDG_CONFIG_HOME");
    if (!config.empty()) return config;
    const char* homeVariable = getenv("HOME");
    const std::string home = homeVariable && *homeVariable ? homeVariable : PasswordHome();
    return home.empty() ? std::string() : home + "/.config";
}

}  // namespace vantrel::platform
