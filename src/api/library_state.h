// The library's process-wide objects, which live from load to unload.
#pragma once

namespace vantrel {

class CLogServiceMgr;

CLogServiceMgr& LogServiceManager();

// The load steps (defaults, instance) and the unload steps (instance, services), run once
// each from the platform's load and unload notification.
void RunLoadSteps() noexcept;
void RunUnloadSteps() noexcept;

}  // namespace vantrel
