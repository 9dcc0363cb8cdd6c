// Running as an unprivileged user, where file modes must hold (root ignores them).
#pragma once

#include <grp.h>
#include <sys/types.h>
#include <unistd.h>

namespace vantrel::test {

constexpr uid_t kUnprivilegedId = 65534;  // the user and group the tests drop to ("nobody")

// Drops the supplementary groups, the group and the user to `id`. Async-signal-safe, for a
// forked child before exec.
inline bool DropPrivilegesTo(uid_t id) {
    return setgroups(0, nullptr) == 0 && setgid(id) == 0 && setuid(id) == 0;
}

}  // namespace vantrel::test
