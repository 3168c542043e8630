// Tonquill's class factory template and registration data.
#include <strmif.h>

#include "audioencfilter/filter.h"
#include "audioencfilter/guids.h"

namespace {

const AMOVIESETUP_MEDIATYPE kInputTypes = {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM};
const AMOVIESETUP_MEDIATYPE kOutputTypes = {&MEDIATYPE_Audio, &MEDIASUBTYPE_KREncodedAudio};

// The registered pin names differ from the run-time ones ("Audio in",
// "Audio out"); callers find pins by the run-time names.
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Audio In"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kInputTypes},
    {const_cast<LPWSTR>(L"Enc Audio Out"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kOutputTypes},
};

const AMOVIESETUP_FILTER kFilter = {&CLSID_KRAudEncFlt, L"Kestrune GSM-AMR,EVRC and AAC Encoder - Tavistra",
                                    MERIT_DO_NOT_USE, 2, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Kestrune GSM-AMR,EVRC and AAC Encoder - Tavistra", &CLSID_KRAudEncFlt, CKRAudEncFlt::CreateInstance, nullptr,
     &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
