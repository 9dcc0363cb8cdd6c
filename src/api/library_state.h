// The library's process-wide objects, which live from load to unload.
#pragma once

namespace vantrel {

class CLogServiceMgr;

CLogServiceMgr& LogServiceManager();

}  // namespace vantrel
