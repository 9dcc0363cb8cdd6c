// A host whose user cannot write the settings store loads the library, and its calls fail
// without making a folder (CI runs as root, whom file modes do not stop, so it drops root).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/host.h"
#include "support/test_environment.h"
#include "support/unprivileged.h"

namespace vantrel::test {
namespace {

TEST(HostLifecycle, UnwritableStoreLoadsButLogsNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
    const HostInstall install = InstallHost();
    // The host's folder is writable by the unprivileged user; the store (root's, 0700) is not.
    chmod(install.folder.c_str(), 0777);
    HostOptions options;
    options.dropToId = kUnprivilegedId;
    const HostRun run = RunHost(
        install, {"print|hello\\n", "printf|trace.log|x\\n", "begin|trace.log|f", "end|trace.log"},
        options);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"0", "0", "0", "0"}));
    EXPECT_FALSE(PathExists(install.folder + "/vantrel"));
}

}  // namespace
}  // namespace vantrel::test
