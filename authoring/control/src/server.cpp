// Ctlvane's class table and its four exports: the control, its property
// page and the variant collection, the type library KRACTIVELib 1.0, and the two component categories
// that mark the control safe for initialising and for scripting.
#include <objsafe.h>

#include "app.h"
#include "atl/module.h"
#include "atl/object.h"
#include "control.h"
#include "olecontrol/control_module.h"
#include "variantcol.h"

namespace {

// {E7273DF9-903F-11D5-885D-0050DA816754}: the collection's AppID.
const GUID kVariantColAppId = {0xE7273DF9, 0x903F, 0x11D5, {0x88, 0x5D, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};

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
    {
        .clsid = &CLSID_VariantCol,
        .create = &atl::Creator<VariantCol>::Create,
        .name = "VariantCol Class",
        .progId = "KRActive.VariantCol.1",
        .versionIndependentProgId = "KRActive.VariantCol",
        .threading = atl::ThreadingModel::Apartment,
        .programmable = true,
        .appId = &kVariantColAppId,
    },
};

const atl::ModuleInfo kModule = {
    .classes = kClasses,
    .classCount = 3,
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
