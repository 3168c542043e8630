// The stream multiplexer's class factory template and registration data.
#include <strmif.h>

#include "audioencfilter/guids.h"
#include "mux.h"
#include "videoencoder/interfaces.h"

namespace {

const AMOVIESETUP_MEDIATYPE kVideoTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_KRMP4V}};
const AMOVIESETUP_MEDIATYPE kAudioTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_KREncodedAudio}};
const AMOVIESETUP_MEDIATYPE kOutputTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_KRMuxStream}};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Video in"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kVideoTypes},
    {const_cast<LPWSTR>(L"Audio in"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kAudioTypes},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kOutputTypes},
};

const AMOVIESETUP_FILTER kFilter = {&CLSID_KRStreamMux, L"KRStreamMux filter (stand-in)", MERIT_DO_NOT_USE, 3, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"KRStreamMux filter (stand-in)", &CLSID_KRStreamMux, CKRStreamMux::CreateInstance, nullptr, &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
