// The sample control's class table and its four exports.
#include <objsafe.h>

#include "atl/module.h"
#include "atl/object.h"
#include "olecontrol/control_module.h"
#include "sample_control.h"

namespace {

const atl::Category kCategories[] = {
    {&CATID_SafeForScripting, L"Controls safely scriptable!"},
    {&CATID_SafeForInitializing, L"Controls safely initializable from persistent data!"},
};

const atl::ClassEntry kClasses[] = {
    {
        .clsid = &CLSID_SampleControl,
        .create = &atl::Creator<SampleControl>::Create,
        .name = "Sample control",
        .progId = "KrSampleControl.SampleControl.1",
        .versionIndependentProgId = "KrSampleControl.SampleControl",
        .threading = atl::ThreadingModel::Apartment,
        .programmable = true,
        .categories = kCategories,
        .categoryCount = 2,
        .control = true,
        .miscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                      OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST,
    },
    {
        .clsid = &CLSID_SamplePage,
        .create = &atl::Creator<SamplePage>::Create,
        .name = "Sample control property page",
        .progId = "KrSampleControl.SamplePage.1",
        .threading = atl::ThreadingModel::Apartment,
    },
};

const atl::ModuleInfo kModule = {
    .classes = kClasses,
    .classCount = 2,
    .typeLib = &LIBID_KrSampleControlLib,
    .typeLibMajor = 1,
    .typeLibMinor = 0,
};

const wchar_t* const kWindowClasses[] = {L"KrSampleControl"};

const olectl::ModuleHooks kHooks = {
    .start = nullptr,
    .end = nullptr,
    .windowClasses = kWindowClasses,
    .windowClassCount = 1,
};

}  // namespace

OLECTL_CONTROL_EXPORTS(kModule, kHooks)
