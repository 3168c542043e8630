// The frame grabber's class factory template and registration data.
#include <strmif.h>

#include "grabber.h"

namespace {

const AMOVIESETUP_MEDIATYPE kTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"In"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kTypes},
    {const_cast<LPWSTR>(L"Out"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kTypes},
};
const AMOVIESETUP_FILTER kFilter = {&CLSID_KRFrameGrabber, L"Grabber filter (stand-in)", MERIT_DO_NOT_USE, 2, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Grabber filter (stand-in)", &CLSID_KRFrameGrabber, CKRFrameGrabber::CreateInstance, nullptr, &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
