// The video encoder's class factory template and registration data.
#include <strmif.h>

#include "filter.h"

namespace {

const AMOVIESETUP_MEDIATYPE kInputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}, {&MEDIATYPE_Video, &MEDIASUBTYPE_KRI420}};
const AMOVIESETUP_MEDIATYPE kOutputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_KRMP4V}};
const AMOVIESETUP_MEDIATYPE kPreviewTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Video in"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 2, kInputTypes},
    {const_cast<LPWSTR>(L"Video out"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kOutputTypes},
    {const_cast<LPWSTR>(L"Video preview"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kPreviewTypes},
};

const AMOVIESETUP_FILTER kFilter = {&CLSID_KRVideoEncoder, L"Kestrune MPEG-4 Video Encoder (stand-in)",
                                    MERIT_DO_NOT_USE, 3, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Kestrune MPEG-4 Video Encoder (stand-in)", &CLSID_KRVideoEncoder, CVidEncFilter::CreateInstance, nullptr,
     &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
