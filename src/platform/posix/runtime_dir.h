// The per-user folder that holds the lock files of named mutexes.
#pragma once

#include <string>

namespace vantrel::platform {

// $XDG_RUNTIME_DIR/vantrel, else /tmp/vantrel-<uid>: created 0700 when missing, refused
// (empty result) when it is not a real folder owned by this user with no access for others.
std::string RuntimeDirectory();

}  // namespace vantrel::platform
