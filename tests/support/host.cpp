#include "support/host.h"

#include <cctype>
#include <sstream>

#include "platform/platform_config.h"

namespace vantrel::test {

static const std::string kSeparator(1, platform::kPathSeparator);

std::string HostInstall::InstanceFolder(int n) const {
    const std::string name = exePath.substr(exePath.rfind(platform::kPathSeparator) + 1);
    return folder + kSeparator + "vantrel" + kSeparator + name + kSeparator + "proc" +
           std::to_string(n);
}

std::string HostInstall::LogPath(const std::string& name, int n) const {
    return InstanceFolder(n) + kSeparator + name;
}

std::string HostInstall::KeyName() const {
    std::string name = exePath;
    for (char& c : name)
        c = c == '\\' ? '/' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return name;
}

Host::Host(const HostInstall& install, const HostOptions& options)
    : process_(StartHostProcess(install.exePath, options)) {
    if (options.arguments.empty()) std::istringstream(Reply()) >> pid_ >> threadId_;
}

std::string Host::Reply() {
    while (pending_.find('\n') == std::string::npos)
        if (!process_ || !ReadFromHost(process_, &pending_)) return "<eof>";
    const size_t at = pending_.find('\n');
    std::string line = pending_.substr(0, at - (at > 0 && pending_[at - 1] == '\r'));
    pending_.erase(0, at + 1);
    return line;
}

HostRun RunHost(const HostInstall& install, const std::vector<std::string>& commands,
                const HostOptions& options) {
    Host host(install, options);
    HostRun run{-1, host.pid(), host.loadingThreadId(), {}};
    for (const std::string& command : commands) run.lines.push_back(host.Send(command));
    run.exitCode = host.Finish();
    // What a command printed beyond its reply line (or a host that ended early).
    for (std::string line; (line = host.Reply()) != "<eof>";) run.lines.push_back(line);
    while (!run.lines.empty() && run.lines.back() == "<eof>") run.lines.pop_back();
    return run;
}

}  // namespace vantrel::test
