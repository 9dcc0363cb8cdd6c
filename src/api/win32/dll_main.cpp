// Load and unload on Windows: the process attach and detach notifications. The C runtime
// builds the library's static objects before it calls DllMain on attach and destroys them
// after DllMain returns on detach, so the steps find the manager in place both times.
#include "api/library_state.h"
#include "platform/win32/win32_api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            // Thread attach and detach would only cost time: nothing here uses them.
            ::DisableThreadLibraryCalls(module);
            vantrel::RunLoadSteps();
            return TRUE;
        case DLL_PROCESS_DETACH:
            vantrel::RunUnloadSteps();
            return TRUE;
        default:
            return TRUE;
    }
}
