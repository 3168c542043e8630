// The streamer's class factory template and registration data.
#include "streamer.h"  // the server's winsock2.h first

#include <strmif.h>

namespace {

const AMOVIESETUP_MEDIATYPE kTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_KRMuxStream}};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"KRStreamer Input"), TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kTypes},
};
const AMOVIESETUP_FILTER kFilter = {&CLSID_KRStreamer, L"KRStreamer filter (stand-in)", MERIT_DO_NOT_USE, 1, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"KRStreamer filter (stand-in)", &CLSID_KRStreamer, CKRStreamer::CreateInstance, nullptr, &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
