// The per-user folder that holds the lock files of named mutexes.
#pragma once

#include <string>

namespace vantrel::platform {

// $XDG_RUNTIME_DIR/vantrel when XDG_RUNTIME_DIR is an absolute path and that folder is
// usable, else /tmp/vantrel-<uid>. Each is created 0700 when missing and refused when it is
// not a real folder (a link is refused) owned by this user with no access for others; empty
// when neither can be used.
std::string RuntimeDirectory();

}  // namespace vantrel::platform
