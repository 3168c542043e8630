// The custom source's class factory template and registration data.
#include <strmif.h>

#include "source.h"

namespace {

const AMOVIESETUP_MEDIATYPE kTypes[] = {{&MEDIATYPE_NULL, &MEDIASUBTYPE_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Out"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kTypes},
};
const AMOVIESETUP_FILTER kFilter = {&CLSID_KRCustomSource, L"Custom source filter (stand-in)", MERIT_DO_NOT_USE, 1,
                                    kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Custom source filter (stand-in)", &CLSID_KRCustomSource, CKRCustomSource::CreateInstance, nullptr, &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
