// Running a host as an unprivileged user, for the tests where file modes must hold (root
// ignores them). Whatever such a host loads comes from a temporary folder any user can
// reach, so these tests pass wherever the build lies, a checkout in a private home included.
#pragma once

#include <sys/types.h>

#include <string>

namespace vantrel::test {

// The user and group the tests drop to ("nobody").
constexpr uid_t kUnprivilegedId = 65534;

// A copy of the library under test that the unprivileged user can load, made once per test
// process; empty (with a test failure) when it cannot be made.
const std::string& LibraryForAnyUser();

// Drops the supplementary groups, the group and the user to `id`. For a forked child before
// exec: async-signal-safe.
bool DropPrivilegesTo(uid_t id);

}  // namespace vantrel::test
