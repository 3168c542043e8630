// What the framework's tests share: the sample control's registration in
// the test's prefix and whether the control's module may unload; the
// message pump is the control-hosting test library's.
#pragma once

#include <windows.h>

#include <string>

#include "host_testing.h"

namespace testing_appframe {

using ::Pump;
// regsvr32 of the sample control (unregister with `remove`); its exit code.
DWORD RegisterSampleControl(bool remove);
// DllCanUnloadNow of the loaded control module after CoFreeUnusedLibraries
// (S_OK also when COM has unloaded it already).
HRESULT ControlModuleCanUnload();

}  // namespace testing_appframe
