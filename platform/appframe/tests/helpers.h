// What the framework's tests share: a message pump, the sample control's
// registration in the test's prefix, and an object count of the control's
// module.
#pragma once

#include <windows.h>

#include <string>

namespace testing_appframe {

// Dispatches what arrives for `ms` milliseconds.
void Pump(DWORD ms);
// regsvr32 of the sample control (unregister with `remove`); its exit code.
DWORD RegisterSampleControl(bool remove);
// DllCanUnloadNow of the loaded control module after CoFreeUnusedLibraries
// (S_OK also when COM has unloaded it already).
HRESULT ControlModuleCanUnload();

}  // namespace testing_appframe
