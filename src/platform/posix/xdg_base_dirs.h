// Where the user's per-user folders are, by the XDG base-directory rules.
#pragma once

#include <string>

namespace vantrel::platform {

// The value of an XDG_* variable when it is an absolute path; a relative path is invalid
// there and is ignored like a missing one (empty result).
std::string XdgAbsolutePath(const char* variable);

// $XDG_CONFIG_HOME, else $HOME/.config (the home from the password database when HOME is
// empty or unset); empty when there is no home at all.
std::string XdgConfigHome();

}  // namespace vantrel::platform
