// The sample server's class table and its four exports.
#include <objsafe.h>

#include "atl/module.h"
#include "atl/server_exports.h"
#include "atl/object.h"
#include "sample_object.h"

namespace {

// The server's AppID.
const GUID kAppId = {0x18D8D4F2, 0x7195, 0x4A49, {0x97, 0xCB, 0x76, 0xE1, 0x80, 0xBF, 0x2D, 0xF0}};

const atl::Category kCategories[] = {
    {&CATID_SafeForScripting, L"Controls safely scriptable!"},
    {&CATID_SafeForInitializing, L"Controls safely initializable from persistent data!"},
};

const atl::ClassEntry kClasses[] = {{
    .clsid = &CLSID_SampleObject,
    .create = &atl::Creator<SampleObject>::Create,
    .name = "SampleObject Class",
    .progId = "KrAtlSample.SampleObject.1",
    .versionIndependentProgId = "KrAtlSample.SampleObject",
    .threading = atl::ThreadingModel::Both,
    .programmable = true,
    .categories = kCategories,
    .categoryCount = 2,
}};

const atl::ModuleInfo kModule = {
    .classes = kClasses,
    .classCount = 1,
    .typeLib = &LIBID_KrAtlSampleLib,
    .typeLibMajor = 1,
    .typeLibMinor = 0,
    .appId = &kAppId,
};

}  // namespace

ATL_SERVER_EXPORTS(kModule)
