// The thread registry's part in fork(): its lock is held across the copy.
#pragma once

namespace vantrel::platform {

void ThreadStatesBeforeFork();
void ThreadStatesAfterForkInParent();
void ThreadStatesAfterForkInChild();

}  // namespace vantrel::platform
