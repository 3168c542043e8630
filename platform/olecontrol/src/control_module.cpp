#include "olecontrol/control_module.h"

#include "atl/module.h"

namespace olectl {

namespace {

const ModuleHooks* g_hooks = nullptr;
bool g_started = false;
// Statically initialised: usable before and without DllMain.
SRWLOCK g_lock = SRWLOCK_INIT;

class Locked {
 public:
  Locked() { AcquireSRWLockExclusive(&g_lock); }
  ~Locked() { ReleaseSRWLockExclusive(&g_lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

}  // namespace

void SetModuleHooks(const ModuleHooks* hooks) { g_hooks = hooks; }

bool ModuleStarted() {
  Locked lock;
  return g_started;
}

HRESULT ModuleGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  {
    Locked lock;
    if (!g_started) {
      HRESULT hr = g_hooks && g_hooks->start ? g_hooks->start() : S_OK;
      if (FAILED(hr)) {
        if (out) *out = nullptr;
        return hr;
      }
      g_started = true;
    }
  }
  return atl::CurrentModule().GetClassObject(clsid, iid, out);
}

HRESULT ModuleCanUnloadNow() {
  HRESULT hr = atl::CurrentModule().CanUnloadNow();
  if (hr != S_OK) return hr;
  Locked lock;
  if (g_started) {
    g_started = false;
    if (g_hooks) {
      if (g_hooks->end) g_hooks->end();
      for (size_t i = 0; i < g_hooks->windowClassCount; ++i)
        UnregisterClassW(g_hooks->windowClasses[i], atl::CurrentModule().Instance());
    }
  }
  return S_OK;
}

}  // namespace olectl
