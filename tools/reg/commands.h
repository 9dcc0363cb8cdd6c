// The five commands of the editor. Each gets parsed arguments, prints its output and
// messages, and returns the exit status.
#pragma once

#include "arguments.h"

namespace vantrel::reg {

int RunQuery(const Arguments& arguments);
int RunAdd(const Arguments& arguments);
int RunDelete(const Arguments& arguments);
int RunExport(const Arguments& arguments);
int RunImport(const Arguments& arguments);

}  // namespace vantrel::reg
