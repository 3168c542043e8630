// Importane.dll: the class table and the four exports.
#include "atl/module.h"
#include "atl/server_exports.h"
#include "atl/object.h"
#include "mpeg4_file_v2_object.h"

namespace {

const atl::ClassEntry kClasses[] = {{
    .clsid = &CLSID_IMpeg4FileV2,
    .create = &atl::Creator<Mpeg4FileV2Object>::Create,
    .name = "IMpeg4FileV2 Class",
    .progId = "Importane.IMpeg4FileV2.1",
    .versionIndependentProgId = "Importane.IMpeg4FileV2",
    .threading = atl::ThreadingModel::Apartment,
    .programmable = true,
}};

const atl::ModuleInfo kModule = {
    .classes = kClasses,
    .classCount = 1,
    .typeLib = &LIBID_IMPORTANELib,
    .typeLibMajor = 1,
    .typeLibMinor = 0,
};

}  // namespace

ATL_SERVER_EXPORTS(kModule)
