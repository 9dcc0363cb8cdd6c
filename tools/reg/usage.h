// The --help text.
#pragma once

namespace vantrel::reg {

extern const char kUsage[];

}  // namespace vantrel::reg
