// Ctlvane's class table and its four exports: the control and its property
// page, the type library KRACTIVELib 1.0, and the two component categories
// that mark the control safe for initialising and for scripting.
#include <objsafe.h>

#include "app.h"
#include "atl/module.h"
#include "atl/object.h"
#include "control.h"
#include "olecontrol/control_module.h"

namespace {

// Initialising first, scripting second, as they are registered.
const atl::Category kCategories[] = {
    {&CATID_SafeForInitializing, L"Controls safely initializable from persistent data!"},
    {&CATID_SafeForScripting, L"Controls safely scriptable!"},
};

constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                              OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;

const atl::ClassEntry kClasses[] = {
    {
        .clsid = &CLSID_ScrivelControl,
        .create = &atl::Creator<CKRActiveCtrl>::Create,
        .name = "KRActive Control",
        .progId = "KRACTIVE.KRActiveCtrl.1",
        .versionIndependentProgId = "KRACTIVE.KRActiveCtrl",
        .threading = atl::ThreadingModel::Apartment,
        .programmable = true,
        .categories = kCategories,
        .categoryCount = 2,
        .control = true,
        .miscStatus = kMiscStatus,
    },
    {
        .clsid = &CLSID_KRActivePropPage,
        .create = &atl::Creator<CKRActivePropPage>::Create,
        .name = "KRActive Property Page",
        .progId = "KRACTIVE.KRActivePropPage.1",
        .threading = atl::ThreadingModel::Apartment,
    },
};

const atl::ModuleInfo kModule = {
    .classes = kClasses,
    .classCount = 2,
    .typeLib = &LIBID_KRACTIVELib,
    .typeLibMajor = 1,
    .typeLibMinor = 0,
};

const wchar_t* const kWindowClasses[] = {L"KRActiveCtrl"};

HRESULT Start() { return CKRActiveApp::Instance().Start(); }
void End() { CKRActiveApp::Instance().End(); }

const olectl::ModuleHooks kHooks = {
    .start = &Start,
    .end = &End,
    .windowClasses = kWindowClasses,
    .windowClassCount = 1,
};

}  // namespace

OLECTL_CONTROL_EXPORTS(kModule, kHooks)
