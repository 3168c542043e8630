// Mpeg4FileV3.dll: the class table and the four exports.
#include "atl/module.h"
#include "atl/server_exports.h"
#include "atl/object.h"
#include "mpeg4_file_v3_object.h"

namespace {

const atl::ClassEntry kClasses[] = {{
    .clsid = &CLSID_IMpeg4FileV3,
    .create = &atl::Creator<Mpeg4FileV3Object>::Create,
    .name = "IMpeg4FileV3 Class",
    .progId = "Mpeg4FileV3.IMpeg4FileV3.1",
    .versionIndependentProgId = "Mpeg4FileV3.IMpeg4FileV3",
    .threading = atl::ThreadingModel::Apartment,
    .programmable = true,
}};

const atl::ModuleInfo kModule = {
    .classes = kClasses,
    .classCount = 1,
    .typeLib = &LIBID_MPEG4FILEV3Lib,
    .typeLibMajor = 1,
    .typeLibMinor = 0,
};

}  // namespace

ATL_SERVER_EXPORTS(kModule)
