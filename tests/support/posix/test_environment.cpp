#include "support/test_environment.h"

#include <sys/stat.h>

#include <cstdlib>

#include "platform/registry.h"
#include "platform/test_seam.h"

namespace vantrel::test {

void UseFreshEnvironment() {
    setenv("XDG_CONFIG_HOME", MakeTempDir("config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", MakeTempDir("runtime").c_str(), 1);
    platform::ReleaseRegistryStore();
    platform::testing::ClearFaults();
}

}  // namespace vantrel::test
